// Import of a configuration database (config.xml) into the record.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <exception>
#include <new>
#include <optional>
#include <vector>

#include "config/config_model.h"
#include "config/db_queries.h"
#include "config/db_xml.h"
#include "platform/unique_fd.h"

namespace flintmere {
namespace {

// Far above any real appliance database; keeps a wrong pick (an image, a
// disk dump) from being read into memory and copied into the log.
constexpr std::uint64_t kMaxDbFileBytes = 16u << 20;

enum class ReadResult { Ok, OpenFailed, NotRegular, TooLarge, ReadFailed };

ReadResult ReadDbFile(const std::string& path, std::vector<std::uint8_t>& out, int& error) {
    // Non-blocking so that a FIFO cannot hang the open; it is refused below.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.Valid()) {
        error = errno;
        return ReadResult::OpenFailed;
    }
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0) {
        error = errno;
        return ReadResult::OpenFailed;
    }
    if (!S_ISREG(st.st_mode)) return ReadResult::NotRegular;
    const auto size = static_cast<std::uint64_t>(st.st_size);
    if (size > kMaxDbFileBytes) return ReadResult::TooLarge;
    std::vector<std::uint8_t> buffer;
    try {
        buffer.resize(size);
    } catch (const std::bad_alloc&) {
        error = ENOMEM;
        return ReadResult::ReadFailed;
    }
    std::size_t done = 0;
    while (done < buffer.size()) {
        ssize_t n = ::read(fd.Get(), buffer.data() + done, buffer.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = errno;
            return ReadResult::ReadFailed;
        }
        if (n == 0) break;  // the file shrank meanwhile
        done += static_cast<std::size_t>(n);
    }
    buffer.resize(done);
    out = std::move(buffer);
    return ReadResult::Ok;
}

// Runs the queries against one parsed document. A query the XPath engine
// cannot evaluate marks the whole import as failed.
class DbReader {
  public:
    explicit DbReader(xmlDoc* doc) : xpath_(doc) {}

    const xmlNode* Node(DbQuery query) const { return xpath_.First(DbQueryPath(query), failed_); }
    std::optional<u16> Text(DbQuery query) const {
        const xmlNode* node = Node(query);
        if (!node) return std::nullopt;
        return dbxml::NodeText(node);
    }
    // True only for the exact text "1".
    bool Flag(DbQuery query) const { return Text(query) == u"1"; }
    // Copies the text into `field` when the node exists; tells whether it did.
    bool Store(DbQuery query, u16& field) const {
        std::optional<u16> text = Text(query);
        if (!text) return false;
        field = std::move(*text);
        return true;
    }
    bool Failed() const { return failed_; }

  private:
    dbxml::XPathEvaluator xpath_;
    mutable bool failed_ = false;
};

struct InterfaceQueries {
    DbQuery address6, prefix6, address, netmask;
};

struct InterfaceFields {
    u16 &address6, &prefix6, &address, &netmask;
};

// The IPv6 prefix only counts next to an IPv6 address; the IPv4 netmask is
// read either way.
void ReadInterface(const DbReader& db, const InterfaceQueries& q, InterfaceFields f) {
    if (db.Store(q.address6, f.address6)) db.Store(q.prefix6, f.prefix6);
    db.Store(q.address, f.address);
    db.Store(q.netmask, f.netmask);
}

}  // namespace

bool ConfigModel::OpenDbFile(SetupRecord& record, const u16& path) {
    services_.WriteLogW(u"OpenDbFile(): open %s", path);
    record.ResetConfiguration(true);

    std::vector<std::uint8_t> data;
    int error = 0;
    const ReadResult read = ReadDbFile(ToPath(path), data, error);
    switch (read) {
        case ReadResult::Ok:
            break;
        case ReadResult::OpenFailed:
        case ReadResult::ReadFailed:
            services_.WriteLogW(u"OpenDbFile(): %s", AppServices::SystemErrorText(error));
            break;
        case ReadResult::NotRegular:
            services_.WriteLog("OpenDbFile(): not a regular file");
            break;
        case ReadResult::TooLarge:
            services_.WriteLog("OpenDbFile(): file larger than %llu bytes",
                               static_cast<unsigned long long>(kMaxDbFileBytes));
            break;
    }
    bool imported = false;
    if (read == ReadResult::Ok) {
        // These bytes replace the earlier ones; when they turn out not to be
        // a database, none are left: a broken file never reaches a medium.
        record.m_dbFileData = std::move(data);
        imported = ImportDbData(record, record.m_dbFileData);
        if (!imported) record.m_dbFileData.clear();
    }
    if (!imported) {
        services_.DisplayMessage(FormatW(u"Can't open file %s!", path));
        return false;
    }
    return true;
}

bool ConfigModel::ImportDbData(SetupRecord& record, std::span<const std::uint8_t> data) {
    try {
        dbxml::ParseFailure failure;
        const dbxml::DocPtr doc = dbxml::ParseDatabase(data, failure);
        if (!doc) {
            // The reason may quote names from the file: UTF-8 like any text.
            services_.WriteLogW(u"OpenDbFile(): At line %d\n%s", failure.line, failure.reason);
            return false;
        }
        record.ResetConfiguration(true);
        const DbReader db(doc.get());

        const bool bond = db.Flag(DbQuery::EnableBond);
        const bool lanBond = bond && db.Flag(DbQuery::BondLanEnabled);
        const bool wanBond = bond && db.Flag(DbQuery::BondWanEnabled);
        const InterfaceFields lan{record.m_lanAddress6, record.m_lanPrefix6, record.m_lanAddress,
                                  record.m_lanNetmask};
        const InterfaceFields wan{record.m_wanAddress6, record.m_wanPrefix6, record.m_wanAddress,
                                  record.m_wanNetmask};

        if (lanBond) {
            ReadInterface(db,
                          {DbQuery::BondLanAddress6, DbQuery::BondLanPrefix6,
                           DbQuery::BondLanAddress, DbQuery::BondLanNetmask},
                          lan);
        } else if (db.Flag(DbQuery::PlainLanEnabled)) {
            ReadInterface(db,
                          {DbQuery::PlainLanAddress6, DbQuery::PlainLanPrefix6,
                           DbQuery::PlainLanAddress, DbQuery::PlainLanNetmask},
                          lan);
        }
        if (wanBond) {
            ReadInterface(db,
                          {DbQuery::BondWanAddress6, DbQuery::BondWanPrefix6,
                           DbQuery::BondWanAddress, DbQuery::BondWanNetmask},
                          wan);
        } else if (db.Flag(DbQuery::PlainWanEnabled)) {
            ReadInterface(db,
                          {DbQuery::PlainWanAddress6, DbQuery::PlainWanPrefix6,
                           DbQuery::PlainWanAddress, DbQuery::PlainWanNetmask},
                          wan);
        }
        if (db.Flag(DbQuery::AdminEnabled)) {
            db.Store(DbQuery::AdminAddress, record.m_adminAddress);
            db.Store(DbQuery::AdminNetmask, record.m_adminNetmask);
        }

        db.Store(DbQuery::Gateway, record.m_gateway);
        // The WAN-side IPv6 gateway wins unless it is missing or empty.
        db.Store(DbQuery::Gateway6, record.m_gateway6);
        db.Store(DbQuery::Gateway6Wan, record.m_gateway6);
        if (record.m_gateway6.empty()) db.Store(DbQuery::Gateway6Again, record.m_gateway6);

        if (const xmlNode* dns = db.Node(DbQuery::DnsList)) {
            const xmlNode* first = dbxml::FirstChild(dns);
            const xmlNode* last = dbxml::LastChild(dns);
            record.m_dns1 = first ? dbxml::NodeText(first) : u16();
            record.m_dns2.clear();
            if (last && last != first) {
                u16 lastText = dbxml::NodeText(last);
                if (lastText != record.m_dns1) record.m_dns2 = std::move(lastText);
            }
        }

        db.Store(DbQuery::HostName, record.m_serverName);
        std::optional<u16> product = db.Text(DbQuery::Product);
        record.m_hwType = product ? dbxml::DecimalValue(*product) : HwNone;
        db.Store(DbQuery::LogicalId, record.m_logicId);
        db.Store(DbQuery::PrimaryServer, record.m_supplyServer1);
        db.Store(DbQuery::SecondaryServer, record.m_supplyServer2);
        db.Store(DbQuery::CompanyName, record.m_companyName);
        db.Store(DbQuery::ProductName, record.m_productName);
        db.Store(DbQuery::Tla, record.m_tla);

        if (std::optional<u16> logo = db.Text(DbQuery::LogoPicture)) {
            if (*logo == u"default") {
                record.m_logoFile.clear();
            } else {
                services_.presenter().ShowMessage(
                    FormatW(u"Logo Picture %s was specified on XML.\rPlease use the Branding "
                            u"dialog to point to the corresponding file on file system.",
                            *logo),
                    kApplicationTitle, kMbOk | kMbIconWarning, true);
                // The name ends up as a file name on the medium: never a path.
                record.m_logoFile = dbxml::BareLogoName(*logo);
                if (record.m_logoFile != *logo) {
                    services_.WriteLogW(u"OpenDbFile(): logo picture name reduced to \"%s\"",
                                        record.m_logoFile);
                }
            }
        }

        if (db.Flag(DbQuery::SingleArmed)) record.m_singleArmed = 1;
        if (db.Failed()) {
            services_.WriteLog("OpenDbFile(): a location path could not be evaluated");
            record.ResetConfiguration(true);
            return false;
        }
        return true;
    } catch (const std::exception& e) {
        // Out of memory while filling the record: no half-filled record.
        services_.WriteLog("OpenDbFile(): %s", e.what());
        record.ResetConfiguration(true);
        return false;
    }
}

}  // namespace flintmere
