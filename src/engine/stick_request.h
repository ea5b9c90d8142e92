// What the window hands flintmere-stick-writer for one stick: the record's
// values, the database bytes and branding texts as the window holds them,
// where to read the installation folder and the logo, and the disk the
// operator chose as the window listed it. Sent as protocol lines:
//   request 1
//   set KEY VALUE        (one per value)
//   end
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/setup_record.h"
#include "engine/stick_protocol.h"

namespace flintmere {

// A request larger than this is refused before it is read to its end.
inline constexpr std::size_t kStickRequestMaxBytes = 72u << 20;

struct StickRequest {
    SetupRecord record;          // the values node.cfg, config.xml and branding come from
    std::string installFolder;   // the installation folder, read with the caller's rights
    std::string logoPath;        // where the window read the logo; "" for none
    std::string diskIdentity;    // "sdb:42", as discovery names this attach of the disk
    std::uint64_t diskSize = 0;  // the size the window listed
};

// The request's lines, ending with "end\n".
std::string FormatStickRequest(const StickRequest& request);

// Reads a request line by line: Add each line until it returns Done or Failed.
class StickRequestParser {
  public:
    enum class Step { More, Done, Failed };
    Step Add(std::string_view line);
    // Why the request was refused (after Failed, or when the input ended early).
    const std::string& Error() const { return error_; }
    const StickRequest& Request() const { return request_; }

  private:
    Step Fail(std::string why);

    StickRequest request_;
    std::vector<std::string> seen_;
    std::size_t bytes_ = 0;
    bool started_ = false;
    std::string error_ = "the request ended before its last line";
};

}  // namespace flintmere
