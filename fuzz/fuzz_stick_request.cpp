// Fuzzes the stick writer's request parser: any bytes on its input.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "engine/stick_request.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace flintmere;
    LineReader reader;
    reader.Feed(std::string_view(reinterpret_cast<const char*>(data), size));
    StickRequestParser parser;
    while (std::optional<std::string> line = reader.Next()) {
        const StickRequestParser::Step step = parser.Add(*line);
        if (step == StickRequestParser::Step::Failed) {
            if (parser.Error().empty()) __builtin_trap();  // a refusal always says why
            return 0;
        }
        if (step != StickRequestParser::Step::Done) continue;
        // An accepted request names an absolute folder and reads back as itself.
        const StickRequest& request = parser.Request();
        if (request.installFolder.empty() || request.installFolder[0] != '/') __builtin_trap();
        LineReader again;
        again.Feed(FormatStickRequest(request));
        StickRequestParser second;
        StickRequestParser::Step last = StickRequestParser::Step::More;
        while (std::optional<std::string> l = again.Next()) last = second.Add(*l);
        if (last != StickRequestParser::Step::Done) __builtin_trap();
        if (FormatStickRequest(second.Request()) != FormatStickRequest(request)) __builtin_trap();
        return 0;
    }
    return 0;
}
