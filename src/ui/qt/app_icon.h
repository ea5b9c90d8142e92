// The program's own icon, drawn at the sizes a desktop asks for.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace flintmere::ui::qt {

QPixmap AppIconPixmap(int size);
QIcon AppIcon();

}  // namespace flintmere::ui::qt
