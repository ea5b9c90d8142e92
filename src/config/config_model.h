// The configuration part of the application object: the record, its files
// (node.cfg, config.xml) and the services they report through.
#pragma once

#include <cstdint>
#include <span>

#include "config/setup_record.h"
#include "platform/app_services.h"
#include "platform/media_root.h"

namespace flintmere {

class ConfigModel : public AppServices, public SetupRecord {
  public:
    explicit ConfigModel(PlatformServices services) : AppServices(std::move(services)) {}

    // --- node.cfg writer (node_cfg_writer.cpp) ---
    // Writes "node.cfg" at the root of `target`. With `forceAutoinstall` the
    // record's m_autoinstall becomes 1 first.
    bool CreateNodeCfgFile(MediaRoot& target, bool forceAutoinstall);

    // --- node.cfg reader (node_cfg_reader.cpp) ---
    bool OpenNodeFile(const u16& path);
    // The part of OpenNodeFile after the file is read: keeps `data` in
    // m_nodeFileData, parses it and commits it when acceptable. `path` is only
    // used in the message. Does not reset the record itself.
    bool LoadNodeFileData(const u16& path, std::vector<std::uint8_t> data);

    // --- configuration database (db_import.cpp, db_copy.cpp) ---
    bool OpenDbFile(const u16& path);
    // The import proper over bytes already in memory (OpenDbFile reads the
    // file, then calls this): parses, resets the record and fills it. Logs a
    // parse failure's line and reason; shows no failure box of its own.
    bool ImportDbData(std::span<const std::uint8_t> data);
    // Writes config.xml byte for byte and the hardware marker file at the root of `target`.
    bool CopyDbFile(MediaRoot& target);
};

}  // namespace flintmere
