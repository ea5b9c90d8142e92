#include <string>

#include "engine/media_engine.h"

namespace flintmere {
namespace {

constexpr std::string_view kBrandingFolder = "branding";
constexpr std::string_view kLogoFolder = "branding/logoPicture";

// The logo's name may come from a database: only its last component is used,
// so no folder part or ".." can put the picture anywhere but the logo folder.
// Empty when nothing usable is left.
std::string BareLogoName(const u16& logoFile) {
    if (logoFile.find(u'\0') != u16::npos) return {};
    std::size_t cut = logoFile.find_last_of(u"/\\");
    u16 name = cut == u16::npos ? logoFile : logoFile.substr(cut + 1);
    if (name.empty() || name == u"." || name == u"..") return {};
    return ToPath(name);
}

}  // namespace

bool MediaEngine::WriteBrandingFiles(MediaRoot& target,
                                     const std::function<bool(const BrandingStep&)>& reportStep) {
    struct TextItem {
        const u16& text;
        std::string_view logText;
        const char16_t* action;
        std::string_view fileName;
    };
    const TextItem texts[] = {
        {request_.m_companyName, "copying branding company name",
         u"Copying Branding Company Name...", "companyName"},
        {request_.m_productName, "copying branding product name",
         u"Copying Branding Product Name...", "productName"},
        {request_.m_tla, "copying TLA", u"Copying Branding TLA...", "tla"},
    };
    for (int index = 0; index < 3; ++index) {
        const TextItem& item = texts[index];
        if (item.text.empty()) continue;
        if (!reportStep({index, item.logText, item.action})) return false;
        target.MakeFolder(kBrandingFolder);
        // UTF-8 with no byte order mark, terminator or line end.
        std::string bytes = Utf16ToUtf8(item.text);
        CreateMiscFile(target, kBrandingFolder, item.fileName, bytes);
    }

    if (!request_.m_logoFile.empty()) {
        if (!reportStep({3, "copying branding logo file", u"Copying Branding Logo File..."})) {
            return false;
        }
        target.MakeFolder(kBrandingFolder);
        target.MakeFolder(kLogoFolder);
        std::string name = BareLogoName(request_.m_logoFile);
        if (name.empty()) {
            services_.WriteLogW(u"WriteBrandingFiles(): logo file name \"%s\" not usable",
                                request_.m_logoFile);
        } else {
            CreateBinaryFile(target, std::string(kLogoFolder) + "/" + name, request_.m_logoData);
        }
    }
    return true;
}

}  // namespace flintmere
