// A disk service whose disks, tables and volumes a test sets.
#pragma once

#include <cerrno>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/disk_service.h"

namespace flintmere::testing {

class FakeDisks final : public DiskService {
  public:
    std::vector<RemovableDisk> disks;
    std::map<std::string, PartitionEntry> tables;  // by kernel name; missing = unreadable
    std::map<std::string, std::string> volumes;    // by kernel name
    // The volume shows only from this ListRemovableDisks call on (0: at once).
    int volumeFromPass = 0;
    int passes = 0;

    std::vector<RemovableDisk> ListRemovableDisks() override {
        ++passes;
        return disks;
    }
    bool ReadPartitionInfo(const RemovableDisk& disk, PartitionEntry& entry) override {
        auto it = tables.find(disk.name);
        if (it == tables.end()) return false;
        entry = it->second;
        return true;
    }
    std::string VolumeDevice(const RemovableDisk& disk) override {
        if (passes < volumeFromPass) return {};
        auto it = volumes.find(disk.name);
        return it == volumes.end() ? std::string() : it->second;
    }
    // What opening a disk for writing gives; it never opens.
    int openError = EPERM;
    std::unique_ptr<DiskWriter> OpenForWriting(const RemovableDisk&, int& error) override {
        error = openError;
        return nullptr;
    }
    // Each flush is recorded with the disk it was for; `onFlush` sees the
    // world at that moment, and a non-zero flushError makes it fail.
    std::vector<std::string> flushed;
    int flushError = 0;
    std::function<void()> onFlush;
    bool FlushDisk(const RemovableDisk& disk, int& error) override {
        flushed.push_back(disk.name);
        if (onFlush) onFlush();
        error = flushError;
        return flushError == 0;
    }
    // The error DropCachedPages gives (0: dropped), and the volumes it was given.
    // `onDrop` runs first: the last moment before the read-back.
    int dropError = 0;
    std::vector<std::string> droppedVolumes;
    std::function<void()> onDrop;
    bool DropCachedPages(const RemovableDisk&, const std::string& volume, int& error) override {
        if (onDrop) onDrop();
        droppedVolumes.push_back(volume);
        error = dropError;
        return dropError == 0;
    }
    // The result ReleaseMounts gives (0: released), and how often it was asked.
    int mountError = 0;
    int releaseCalls = 0;
    bool ReleaseMounts(const RemovableDisk&, int& error) override {
        ++releaseCalls;
        error = mountError;
        return mountError == 0;
    }
    bool HoldsSystem(const RemovableDisk&) override { return false; }
    // What the reads of Probe give, one a call, then 0 (it answers); and
    // how often it was asked.
    std::deque<int> probeErrors;
    int probes = 0;
    int Probe(const RemovableDisk&) override {
        ++probes;
        if (probeErrors.empty()) return 0;
        const int error = probeErrors.front();
        probeErrors.pop_front();
        return error;
    }
};

}  // namespace flintmere::testing
