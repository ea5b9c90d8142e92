// The disk service of the stick writer: the system's, with every call made
// under root's file rights, since the worker thread reads files as its caller.
#pragma once

#include <memory>

#include "platform/caller_rights.h"
#include "platform/disk_service.h"

namespace flintmere {

class RootDiskWriter final : public DiskWriter {
  public:
    explicit RootDiskWriter(std::unique_ptr<DiskWriter> inner) : inner_(std::move(inner)) {}
    ~RootDiskWriter() override {
        const RootFileAccess asRoot;
        inner_.reset();
    }
    bool WriteAt(std::uint64_t offset, std::span<const std::uint8_t> data) override {
        const RootFileAccess asRoot;
        return inner_->WriteAt(offset, data);
    }
    bool Refresh() override {
        const RootFileAccess asRoot;
        return inner_->Refresh();
    }
    bool ReadLength(std::uint64_t& lengthBytes) override {
        const RootFileAccess asRoot;
        return inner_->ReadLength(lengthBytes);
    }
    bool ReadGeometry(DiskGeometry& geometry) override {
        const RootFileAccess asRoot;
        return inner_->ReadGeometry(geometry);
    }
    bool CreateDisk(const PartitionEntry& entry) override {
        const RootFileAccess asRoot;
        return inner_->CreateDisk(entry);
    }
    bool SetLayout(const PartitionEntry& entry) override {
        const RootFileAccess asRoot;
        return inner_->SetLayout(entry);
    }
    int LastError() const override { return inner_->LastError(); }

  private:
    std::unique_ptr<DiskWriter> inner_;
};

class RootDiskService final : public DiskService {
  public:
    explicit RootDiskService(DiskService& inner) : inner_(inner) {}
    std::vector<RemovableDisk> ListRemovableDisks() override {
        const RootFileAccess asRoot;
        return inner_.ListRemovableDisks();
    }
    bool ReadPartitionInfo(const RemovableDisk& disk, PartitionEntry& entry) override {
        const RootFileAccess asRoot;
        return inner_.ReadPartitionInfo(disk, entry);
    }
    std::string VolumeDevice(const RemovableDisk& disk) override {
        const RootFileAccess asRoot;
        return inner_.VolumeDevice(disk);
    }
    std::unique_ptr<DiskWriter> OpenForWriting(const RemovableDisk& disk, int& error) override {
        const RootFileAccess asRoot;
        std::unique_ptr<DiskWriter> writer = inner_.OpenForWriting(disk, error);
        if (!writer) return writer;
        return std::make_unique<RootDiskWriter>(std::move(writer));
    }
    bool FlushDisk(const RemovableDisk& disk, int& error) override {
        const RootFileAccess asRoot;
        return inner_.FlushDisk(disk, error);
    }
    bool DropCachedPages(const RemovableDisk& disk, const std::string& volume,
                         int& error) override {
        const RootFileAccess asRoot;
        return inner_.DropCachedPages(disk, volume, error);
    }
    bool ReleaseMounts(const RemovableDisk& disk, int& error) override {
        const RootFileAccess asRoot;
        return inner_.ReleaseMounts(disk, error);
    }
    bool HoldsSystem(const RemovableDisk& disk) override {
        const RootFileAccess asRoot;
        return inner_.HoldsSystem(disk);
    }
    int Probe(const RemovableDisk& disk) override {
        const RootFileAccess asRoot;
        return inner_.Probe(disk);
    }

  private:
    DiskService& inner_;
};

}  // namespace flintmere
