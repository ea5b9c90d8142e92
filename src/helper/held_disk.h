// The chosen disk, held open by the stick writer from its identity check to
// the end of the read-back. While a descriptor is open the kernel keeps the
// name on this disk: a detached loop device stays bound until the last
// close, and a pulled stick's name is not given to the next one. The hold is
// a plain open, not an exclusive one: the formatter and the partition writer
// each take the disk exclusively for their own writes. Every call made on
// the disk first checks again that its name still leads to the same attach
// (its diskseq), so no step reaches another disk.
#pragma once

#include <cstdint>
#include <string>

#include "platform/disk_service.h"
#include "platform/unique_fd.h"

namespace flintmere {

class HeldDiskService final : public DiskService {
  public:
    explicit HeldDiskService(DiskService& inner) : inner_(inner) {}

    // Opens `disk` and checks through the open descriptor that it is the
    // attach the window listed (kernel name and diskseq) and of the size it
    // listed. False with `error`.
    bool Hold(const RemovableDisk& disk, std::uint64_t listedSize, std::string& error);
    // True while the disk's name still leads to the held attach.
    bool StillHeld() const;

    std::vector<RemovableDisk> ListRemovableDisks() override;
    bool ReadPartitionInfo(const RemovableDisk& disk, PartitionEntry& entry) override;
    std::string VolumeDevice(const RemovableDisk& disk) override;
    std::unique_ptr<DiskWriter> OpenForWriting(const RemovableDisk& disk, int& error) override;
    bool FlushDisk(const RemovableDisk& disk, int& error) override;
    bool DropCachedPages(const RemovableDisk& disk, const std::string& volume, int& error) override;
    bool ReleaseMounts(const RemovableDisk& disk, int& error) override;
    bool HoldsSystem(const RemovableDisk& disk) override;
    int Probe(const RemovableDisk& disk) override;

  private:
    bool Same(const RemovableDisk& disk, int& error) const;

    DiskService& inner_;
    RemovableDisk disk_;
    std::uint64_t seq_ = 0;
    UniqueFd held_;
};

// The attach number of an open disk, 0 when the kernel gives none.
std::uint64_t DiskSeqOf(int fd);

}  // namespace flintmere
