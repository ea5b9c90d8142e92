// The program itself in its installation folder, run in batch mode; the image
// is read back with xorriso, which shares no code with the program.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <set>
#include <sstream>

#include "support/fakes.h"
#include "support/install_folder.h"
#include "support/run_program.h"

namespace flintmere::testing {
namespace {

namespace fs = std::filesystem;

// Used when the sample database is not in the tree.
constexpr char kFallbackDatabase[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<kestrelData>
  <kestrelNetwork>
    <networkInterfaceList>
      <item>
        <network><interface>eth0</interface><enabled>1</enabled></network>
        <networkRealmDataList><item><networkRealmDataCommon>
          <type>Main IPv4</type><ipAddr>192.0.2.10</ipAddr><subnetMask>255.255.255.0</subnetMask>
        </networkRealmDataCommon></item></networkRealmDataList>
      </item>
    </networkInterfaceList>
  </kestrelNetwork>
  <netServicesData><gatewayIpAddr>192.0.2.1</gatewayIpAddr></netServicesData>
  <maintenanceData>
    <hostname>sbc-branch-01</hostname>
    <product>16</product>
    <brandingData>
      <companyName>Example Telecom Ltd.</companyName>
      <productName>Branch SBC</productName>
      <TLA>Licensed to Example Telecom Ltd.</TLA>
      <logoPicture>default</logoPicture>
    </brandingData>
  </maintenanceData>
</kestrelData>
)";

// The sample database with a company name outside ASCII.
constexpr char kCompany[] = "M\xC3\xBCller Telekom \xE2\x80\x93 Nord";

std::string ElementText(const std::string& xml, const std::string& name) {
    const std::string open = "<" + name + ">";
    const std::size_t from = xml.find(open);
    if (from == std::string::npos) return {};
    const std::size_t start = from + open.size();
    return xml.substr(start, xml.find("</" + name + ">", start) - start);
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        out.push_back(line);
    }
    return out;
}

class IsoE2e : public ::testing::Test {
  protected:
    void SetUp() override {
        FLINTMERE_REQUIRE_TOOLS("xorriso", "genisoimage");
        inst = dir / "inst";
        FLINTMERE_REQUIRE_INSTALL_FOLDER(inst, true);
        temp = dir / "tmp";
        work = dir / "work";
        fs::create_directories(temp);
        fs::create_directories(work);

        std::string db = ReadFileBytes(FLINTMERE_SOURCE_DIR "/samples/config.xml");
        if (db.empty()) db = kFallbackDatabase;
        const std::string company =
            "<companyName>" + ElementText(db, "companyName") + "</companyName>";
        db.replace(db.find(company), company.size(),
                   std::string("<companyName>") + kCompany + "</companyName>");
        database = db;
        WriteFileBytes(work + "/site1.xml", database);
    }

    // Runs the installed program from an unrelated current directory unless told otherwise.
    ProgramResult Run(const std::vector<std::string>& args, const std::string& cwd = "/") {
        std::vector<std::string> argv = {inst + "/flintmere"};
        argv.insert(argv.end(), args.begin(), args.end());
        return RunProgram(argv, {"TMPDIR=" + temp + "/"}, cwd);
    }

    std::set<std::string> ImageFiles(const std::string& image) {
        ProgramResult r = RunProgram({"xorriso", "-indev", image, "-find", "/", "-type", "f"});
        EXPECT_EQ(r.exitStatus, 0) << r.err;
        std::set<std::string> files;
        for (std::string line : Lines(r.out)) {
            if (line.size() > 2 && line.front() == '\'')
                files.insert(line.substr(2, line.size() - 3));
        }
        return files;
    }

    // Extracts the whole image into a fresh folder and returns it.
    std::string Extract(const std::string& image) {
        const std::string out = dir / ("x-" + fs::path(image).stem().string());
        ProgramResult r =
            RunProgram({"xorriso", "-osirrox", "on", "-indev", image, "-extract", "/", out});
        EXPECT_EQ(r.exitStatus, 0) << r.err;
        return out;
    }

    std::vector<std::string> LogMessages() {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(temp)) {
            if (e.path().extension() != ".log") continue;
            for (const std::string& line : Lines(ReadFileBytes(e.path().string()))) {
                out.push_back(line.size() > 22 ? line.substr(22) : line);
            }
        }
        return out;
    }

    std::vector<std::string> LeftoverTrees() {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(temp)) {
            if (e.is_directory()) out.push_back(e.path().string());
        }
        return out;
    }

    TempDir dir;
    std::string inst, temp, work, database;
};

TEST_F(IsoE2e, iso_BatchBuildsABootableImageFromTheDatabase) {
    ProgramResult run = Run({work + "/site1.xml"});
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const std::string image = work + "/site1.iso";
    ASSERT_TRUE(fs::is_regular_file(image));

    const std::set<std::string> expected = {
        "node.cfg",
        "config.xml",
        "vmlinuz",
        "initrd.gz",
        "image_zev-1.2.3.4-5.tar",
        "syslinux.cfg",
        "isolinux.bin",
        "ldlinux.c32",
        "isolinux.cfg",

        "EFI/BOOT/BOOTX64.EFI",
        "loader/loader.conf",
        "loader/entries/auto.conf",
        "branding/companyName",
        "branding/productName",
        "branding/tla",
    };
    // boot.cat is the El Torito catalogue (checked below), not a plain file.
    EXPECT_EQ(ImageFiles(image), expected);

    const std::string x = Extract(image);
    EXPECT_EQ(ReadFileBytes(x + "/config.xml"), database);
    const std::vector<std::string> node = Lines(ReadFileBytes(x + "/node.cfg"));
    ASSERT_FALSE(node.empty());
    EXPECT_EQ(node[0], "kestrel_label: " + ElementText(database, "hostname"));
    for (const char* f : {"vmlinuz", "initrd.gz", "image_zev-1.2.3.4-5.tar"}) {
        EXPECT_EQ(ReadFileBytes(x + "/" + f), ReadFileBytes(inst + "/kx/" + f)) << f;
    }
    EXPECT_EQ(ReadFileBytes(x + "/isolinux.bin").size(),
              ReadFileBytes(inst + "/syslinux/isolinux.bin").size());
    EXPECT_EQ(ReadFileBytes(x + "/ldlinux.c32"), ReadFileBytes(inst + "/syslinux/ldlinux.c32"));
    const std::string menu = ReadFileBytes(inst + "/syslinux/syslinux.cfg");
    EXPECT_EQ(ReadFileBytes(x + "/syslinux.cfg"), menu);
    std::string patched = menu;
    patched.insert(patched.find("APPEND ") + 7, "vmcdromboot=true ");
    EXPECT_EQ(ReadFileBytes(x + "/isolinux.cfg"), patched);
    EXPECT_EQ(ReadFileBytes(x + "/EFI/BOOT/BOOTX64.EFI"),
              ReadFileBytes(inst + "/systemd-boot/systemd-bootx64.efi"));
    EXPECT_EQ(ReadFileBytes(x + "/loader/loader.conf"),
              ReadFileBytes(inst + "/systemd-boot/loader.conf"));
    EXPECT_EQ(ReadFileBytes(x + "/loader/entries/auto.conf"),
              ReadFileBytes(inst + "/systemd-boot/iso.conf"));
    EXPECT_EQ(ReadFileBytes(x + "/branding/companyName"), kCompany);
    EXPECT_EQ(ReadFileBytes(x + "/branding/productName"), ElementText(database, "productName"));
    EXPECT_EQ(ReadFileBytes(x + "/branding/tla"), ElementText(database, "TLA"));

    // The BIOS boots isolinux.bin without emulation, 4 sectors, from the catalogue boot.cat.
    ProgramResult torito = RunProgram({"xorriso", "-indev", image, "-report_el_torito", "plain"});
    ASSERT_EQ(torito.exitStatus, 0) << torito.err;
    EXPECT_TRUE(std::regex_search(torito.out, std::regex("El Torito cat path : /boot.cat")));
    EXPECT_TRUE(std::regex_search(
        torito.out, std::regex("El Torito boot img : +1 +BIOS +y +none +0x0000 +0x00 +4 ")))
        << torito.out;
    EXPECT_TRUE(
        std::regex_search(torito.out, std::regex("El Torito img path : +1 +/isolinux.bin")));
    EXPECT_TRUE(
        std::regex_search(torito.out, std::regex("El Torito img opts : +1 +boot-info-table")));

    EXPECT_TRUE(LeftoverTrees().empty());
    const std::vector<std::string> log = LogMessages();
    std::vector<std::string> steps;
    std::copy_if(log.begin(), log.end(), std::back_inserter(steps),
                 [](const std::string& l) { return l.rfind("SetupISO(): ", 0) == 0; });
    ASSERT_GE(steps.size(), 2u);
    steps.erase(steps.begin() + 1);  // the line naming the temporary folder
    EXPECT_EQ(steps, (std::vector<std::string>{
                         "SetupISO(): start ISO",
                         "SetupISO(): creating node.cfg",
                         "SetupISO(): copying files",
                         "SetupISO(): syslinux.cfg file",
                         "SetupISO(): isolinux.bin file",
                         "SetupISO(): ldlinux.c32 file",
                         "SetupISO(): syslinux.cfg file",
                         "SetupISO(): systemd-bootx64.efi file",
                         "SetupISO(): loader.conf file",
                         "SetupISO(): iso.conf file",
                         "SetupISO(): copying branding company name",
                         "SetupISO(): copying branding product name",
                         "SetupISO(): copying TLA",
                         "SetupISO(): creating ISO file",
                         "SetupISO(): image written to " + image,
                         "SetupISO(): done",
                     }));
    EXPECT_EQ(log.front(), "USB Stick Setup tool is starting");
}

TEST_F(IsoE2e, iso_LogHasOneEncodingForFolderNames) {
    // Installation, temporary and database folders named outside ASCII.
    inst = dir / "inst\xC3\xBC";
    FLINTMERE_REQUIRE_INSTALL_FOLDER(inst, true);
    temp = dir / "tmp\xC3\xBC";
    fs::create_directories(temp);
    const std::string db = work + "/site \xC3\xBC.xml";
    WriteFileBytes(db, database);
    ProgramResult run = Run({db});
    ASSERT_EQ(run.exitStatus, 0) << run.err;

    // The log is Windows-1252: "\xFC" is the u with diaeresis, and no line
    // carries it as UTF-8.
    const std::vector<std::string> log = LogMessages();
    ASSERT_FALSE(log.empty());
    int instLines = 0;
    for (const std::string& line : log) {
        EXPECT_EQ(line.find("\xC3"), std::string::npos) << line;
        if (line.find("/inst\xFC/") != std::string::npos) ++instLines;
        if (line.find(dir.Path()) != std::string::npos) {
            EXPECT_TRUE(line.find("inst\xFC") != std::string::npos ||
                        line.find("tmp\xFC") != std::string::npos ||
                        line.find("site \xFC.") != std::string::npos)
                << line;
        }
    }
    // The distribution folder as measured and as copied.
    EXPECT_GE(instLines, 2);
    const auto has = [&](const std::string& text) {
        return std::any_of(log.begin(), log.end(),
                           [&](const std::string& l) { return l.find(text) != std::string::npos; });
    };
    EXPECT_TRUE(has("GetFilesSize(): source path is " + dir.Path() + "/inst\xFC/kx/"));
    EXPECT_TRUE(has("CopyDirFiles(): source is " + dir.Path() + "/inst\xFC/kx/"));
    EXPECT_TRUE(has("RunBatchIso(): database " + work + "/site \xFC.xml"));
    EXPECT_TRUE(has("CreateMiscFile(): write: \"M\xFCller Telekom \x96 Nord\""));
}

TEST_F(IsoE2e, iso_OutputNameAndRelativePath) {
    // Started in the database's folder with a bare name and an output name.
    ProgramResult run = Run({"site1.xml", "vm1"}, work);
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_TRUE(fs::is_regular_file(work + "/vm1.iso"));
    EXPECT_FALSE(fs::exists(work + "/site1.iso"));
    EXPECT_EQ(ImageFiles(work + "/vm1.iso").count("config.xml"), 1u);
}

TEST_F(IsoE2e, iso_DatabaseNotImportedStillBuildsButFails) {
    struct Case {
        const char* name;
        const char* file;
        const char* contents;  // nullptr: the file does not exist
    };
    const Case cases[] = {
        {"missing", "missing.xml", nullptr},
        {"not well-formed", "broken.xml", "<kestrelData><maintenanceData>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string db = work + "/" + c.file;
        if (c.contents) WriteFileBytes(db, c.contents);
        ProgramResult run = Run({db});
        EXPECT_NE(run.exitStatus, 0);
        EXPECT_NE(run.err.find("Error: Can't open file " + db + "!"), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("not imported"), std::string::npos) << run.err;

        const std::string image = work + "/" + fs::path(c.file).stem().string() + ".iso";
        ASSERT_TRUE(fs::is_regular_file(image)) << "the image is built from the reset record";
        const std::string x = Extract(image);
        const std::vector<std::string> node = Lines(ReadFileBytes(x + "/node.cfg"));
        ASSERT_FALSE(node.empty());
        EXPECT_EQ(node[0], "kestrel_label: unnamed");
    }
}

TEST_F(IsoE2e, iso_FailedBuildExitsNonZero) {
    fs::remove(inst + "/syslinux/isolinux.bin");
    ProgramResult run = Run({work + "/site1.xml"});
    EXPECT_NE(run.exitStatus, 0);
    EXPECT_NE(run.err.find("Error: " + AppServices::SystemErrorText(ENOENT)), std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("was not built"), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(work + "/site1.iso"));
    EXPECT_EQ(LeftoverTrees().size(), 1u) << "a failed build leaves its tree for inspection";
}

}  // namespace
}  // namespace flintmere::testing
