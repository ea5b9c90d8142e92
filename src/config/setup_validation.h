// The checks run when the operator presses OK, before any medium is touched.
#pragma once

#include <cstdint>
#include <functional>

#include "config/setup_record.h"
#include "platform/presenter.h"
#include "platform/text.h"

namespace flintmere {

// The simple message box: OK button and stop icon.
constexpr unsigned kMbSimpleErrorStyle = 0x10;
// The two questions: Yes/No, warning icon, task-modal, foreground.
constexpr unsigned kMbQuestionStyle = kMbYesNo | kMbIconWarning | kMbTaskModal | kMbSetForeground;
// Smallest stick accepted ("1G" as the disk geometry counts it).
constexpr std::uint64_t kMinimumStickBytes = 1024047359;

// What the main dialog shows when OK is pressed.
struct SetupRequestForm {
    u16 hostName;  // exactly as typed
    bool netBoot = false;
    bool preinstall = false;
    bool dhcp = false;
    bool singleArmed = false;
    bool automated = false;
    bool sourceDatabase = false;  // radio "Already existent database file"
    bool sourceNodeFile = false;  // radio "Already existent node.cfg file"
    bool sourceGenerate = false;  // radio "Generate node.cfg file"
    u16 logicalId;
    u16 qmxUrl1;
    u16 qmxUrl2;
    u16 hardwareTypeText;     // text of the shown hardware type entry
    int mediaEntryCount = 0;  // the list always ends with the virtual-machine entry
    int selectedMediaEntry = -1;
    bool invert = false;  // written back: the single-armed defaults clear it
};

enum class ValidationOutcome { Accepted, Rejected, Declined };

// The part of the form a refusal is about, so a caller can point at it
// without reading the text. `Form` is the request as a whole.
enum class FormField {
    Form,
    HostName,
    LogicalId,
    QmxUrl1,
    QmxUrl2,
    LanIpv4,
    LanIpv6,
    WanIpv4,
    WanIpv6,
    AdminIpv4,
    Ipv6Gateway,
    HardwareType,
};

struct ValidationResult {
    ValidationOutcome outcome = ValidationOutcome::Accepted;
    u16 message;                        // Rejected only
    u16 caption;                        // "Error" or "WARNING"
    bool ownedByDialog = false;         // the box belongs to the main dialog
    FormField field = FormField::Form;  // Rejected and Declined
};

// What the validation needs from the rest of the application object. The
// engine implements it over its own routines and drive table.
class SetupValidationServices {
  public:
    virtual ~SetupValidationServices() = default;
    // The installation folder checks.
    virtual bool CheckPendriveSoftware() = 0;
    virtual bool CheckInstallImage() = 0;
    // Stores `mediaEntry` as the selected drive (m_selectedDrive) and returns
    // that drive's capacity in bytes; 0 for an entry outside the drive table.
    virtual std::uint64_t SelectDrive(int mediaEntry) = 0;
    // One log line (the log adds the time stamp and line end).
    virtual void WriteLogLine(u16view line) = 0;
    // Message boxes and the Yes/No question.
    virtual Presenter& Boxes() = 0;
};

// Runs every rule in order; the first failing one decides. Writes the server
// name, the configuration source, the interface-use flags, the single-armed
// defaults and (USB) the selected drive, even when a later rule rejects.
// Shows only the "unnamed" question and the branding checks' own boxes; the
// rejection box is the caller's (ShowValidationResult).
ValidationResult ValidateSetupRequest(SetupRecord& record, SetupRequestForm& form,
                                      SetupValidationServices& services);

// Shows the rejection box of `result`; nothing for Accepted or Declined.
void ShowValidationResult(const ValidationResult& result, Presenter& boxes);

// With single armed checked: clears `invert`, fills the empty WAN values from
// LAN and takes ADMIN out of use. Also the "Single Armed" handler's routine.
void setSingleArmedDefault(SetupRecord& record, bool singleArmed, bool& invert,
                           const std::function<void(u16view)>& writeLog);
void setSingleArmedDefault(SetupRecord& record, SetupRequestForm& form,
                           SetupValidationServices& services);

// One branding text against the allowed characters; shows its own box
// ("<label> cannot be empty." or "<label> contains invalid symbols.") when false.
bool CheckBrandingText(u16view label, u16view value, Presenter& boxes);

// IPv4 text as inet_addr converts it (network byte order). An empty or
// unparsable text, or one over 15 characters, gives 255.255.255.255.
std::uint32_t InetAddrValue(u16view text);
// The relation rules between LAN, WAN and ADMIN; the message of the first
// that fails, or empty, and the interface it names.
u16 InterfaceRelationError(const SetupRecord& record, bool singleArmed, FormField* field = nullptr);

}  // namespace flintmere
