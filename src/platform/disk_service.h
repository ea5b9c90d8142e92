// Removable disks: which ones exist, what their first partition says, and
// the only way to open one for writing. Sticks are found in sysfs; writes
// are refused for anything that is not a listed removable disk, and for any
// disk that holds the running system.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/text.h"

namespace flintmere {

// What a USB disk reports as its geometry: 63 sectors per track and 255
// tracks per cylinder, whatever the stick really is.
struct DiskGeometry {
    std::uint32_t bytesPerSector = 512;
    std::uint32_t sectorsPerTrack = 63;
    std::uint32_t tracksPerCylinder = 255;
    std::uint64_t cylinders = 0;

    std::uint64_t TrackSize() const { return std::uint64_t{bytesPerSector} * sectorsPerTrack; }
    std::uint64_t Size() const { return cylinders * tracksPerCylinder * TrackSize(); }
    static DiskGeometry FromLength(std::uint64_t lengthBytes, std::uint32_t bytesPerSector);
};

struct RemovableDisk {
    std::string name;                // kernel name, "sdb"
    std::string devicePath;          // "/dev/sdb"
    std::string identity;            // this attach of this disk: "sdb:42"
    std::string description;         // "SanDisk Cruzer"
    std::string serial;              // the USB device's serial number; "" when it has none
    std::uint64_t deviceNumber = 0;  // dev_t of the whole disk; never 0 for a real one
    std::uint64_t lengthBytes = 0;
    DiskGeometry geometry;
};

enum class PartitionStyle { Raw, Mbr, Gpt };

// Partition 1 of a disk as written or as read back.
struct PartitionEntry {
    PartitionStyle style = PartitionStyle::Raw;
    std::uint64_t startingOffset = 0;  // bytes
    std::uint64_t length = 0;          // bytes
    // MBR
    std::uint8_t mbrType = 0;
    bool bootIndicator = false;
    std::uint32_t hiddenSectors = 0;
    std::uint32_t mbrSignature = 0;
    // GPT; GUIDs in upper-case canonical text
    std::string gptDiskId;
    std::string gptType;
    std::string gptId;
    u16 gptName;
};

inline constexpr char kBasicDataPartitionType[] = "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7";

// A new random (version 4) GUID in upper-case canonical text.
std::string NewGuidText();

// The whole-disk device of a stick, open for the raw writes and the layout.
// When another program holds the disk, opening still succeeds but every
// write fails with EBUSY until the disk is free.
class DiskWriter {
  public:
    virtual ~DiskWriter() = default;
    virtual bool WriteAt(std::uint64_t offset, std::span<const std::uint8_t> data) = 0;
    // Makes the kernel read the partition table again.
    virtual bool Refresh() = 0;
    virtual bool ReadLength(std::uint64_t& lengthBytes) = 0;
    virtual bool ReadGeometry(DiskGeometry& geometry) = 0;
    // Writes an empty table of `entry.style` with its signature or disk GUID.
    virtual bool CreateDisk(const PartitionEntry& entry) = 0;
    // Writes the table with partition 1 as `entry` and slots 2 to 4 empty.
    virtual bool SetLayout(const PartitionEntry& entry) = 0;
    // errno of the last failure.
    virtual int LastError() const = 0;
};

class DiskService {
  public:
    virtual ~DiskService() = default;
    // Removable USB disks with media, in name order.
    virtual std::vector<RemovableDisk> ListRemovableDisks() = 0;
    // Partition 1 and the table style as they are on the disk now.
    virtual bool ReadPartitionInfo(const RemovableDisk& disk, PartitionEntry& entry) = 0;
    // The volume the disk shows now: the node of partition 1 when the disk
    // has a table, else the whole disk. Empty while the partition node of
    // the table on the disk is not there yet.
    virtual std::string VolumeDevice(const RemovableDisk& disk) = 0;
    // Unmounts the disk's partitions and opens it. Null (with `error`) for a
    // disk that is not listed, that holds the system, or that cannot be opened.
    virtual std::unique_ptr<DiskWriter> OpenForWriting(const RemovableDisk& disk, int& error) = 0;
    // Flushes everything written to the disk through any of its devices.
    virtual bool FlushDisk(const RemovableDisk& disk, int& error) = 0;
    // Writes out and then drops what the kernel caches of the disk's devices
    // and of `volume`, so that the next reads come from the medium.
    virtual bool DropCachedPages(const RemovableDisk& disk, const std::string& volume,
                                 int& error) = 0;
    // Unmounts every mount of the disk's partitions (a desktop may have
    // mounted the stick). False, with `error`, when one stays mounted.
    virtual bool ReleaseMounts(const RemovableDisk& disk, int& error) = 0;
    // True when the disk holds the running system: a partition (or the
    // disk) mounted at /, /boot, /usr or /home, or active swap.
    virtual bool HoldsSystem(const RemovableDisk& disk) = 0;
    // Reads the disk's first block from the medium, past the cache: 0 when
    // it answers, else errno of the failure. One failure alone does not mean
    // the disk is gone: a write error not yet collected fails the next read.
    virtual int Probe(const RemovableDisk& disk) = 0;
};

// The disk service of a Linux system, over sysfs, /proc and /dev.
struct DiskRoots {
    std::string sys = "/sys";
    std::string dev = "/dev";
    std::string proc = "/proc";
};

class LinuxDiskService final : public DiskService {
  public:
    using Roots = DiskRoots;
    // `admitted` names block devices (kernel names such as "loop3") that are
    // treated as removable USB disks. Only tests pass any.
    explicit LinuxDiskService(Roots roots = Roots(), std::vector<std::string> admitted = {});

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
    struct Node {
        std::string name;
        std::uint64_t deviceNumber = 0;
    };
    std::vector<Node> DiskNodes(const RemovableDisk& disk);
    // True when the block device `device` (or the one `source` names) is one
    // of `nodes` or is built on one of them.
    bool BuiltOn(std::uint64_t device, const std::string& source,
                 const std::vector<Node>& nodes) const;
    bool UnmountPartitions(const RemovableDisk& disk, int& error);
    std::string SysBlock(const std::string& name) const;

    Roots roots_;
    std::vector<std::string> admitted_;
};

}  // namespace flintmere
