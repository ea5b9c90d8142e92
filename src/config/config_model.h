// The configuration files of a run: node.cfg and config.xml read into a
// record and written from one, reported through the run's services.
#pragma once

#include <cstdint>
#include <span>

#include "config/setup_record.h"
#include "platform/app_services.h"
#include "platform/media_root.h"

namespace flintmere {

class ConfigModel {
  public:
    explicit ConfigModel(AppServices& services) : services_(services) {}

    // --- node.cfg writer (node_cfg_writer.cpp) ---
    // Writes "node.cfg" of `record` at the root of `target`. With
    // `forceAutoinstall` the record's m_autoinstall becomes 1 first.
    bool CreateNodeCfgFile(SetupRecord& record, MediaRoot& target, bool forceAutoinstall);
    // The same for a request that only is read (a job's): the jobs pass the
    // record's own flag, which forces nothing.
    bool CreateNodeCfgFile(const SetupRecord& record, MediaRoot& target);

    // --- node.cfg reader (node_cfg_reader.cpp) ---
    bool OpenNodeFile(SetupRecord& record, const u16& path);
    // The part of OpenNodeFile after the file is read: keeps `data` in
    // m_nodeFileData, parses it and commits it when acceptable. `path` is only
    // used in the message. Does not reset the record itself.
    bool LoadNodeFileData(SetupRecord& record, const u16& path, std::vector<std::uint8_t> data);

    // --- configuration database (db_import.cpp, db_copy.cpp) ---
    bool OpenDbFile(SetupRecord& record, const u16& path);
    // The import proper over bytes already in memory (OpenDbFile reads the
    // file, then calls this): parses, resets the record and fills it. Logs a
    // parse failure's line and reason; shows no failure box of its own.
    bool ImportDbData(SetupRecord& record, std::span<const std::uint8_t> data);
    // Writes config.xml byte for byte and the hardware marker file at the root of `target`.
    bool CopyDbFile(const SetupRecord& record, MediaRoot& target);

  private:
    bool WriteNodeCfg(const SetupRecord& record, MediaRoot& target, bool forceAutoinstall);

    AppServices& services_;
};

}  // namespace flintmere
