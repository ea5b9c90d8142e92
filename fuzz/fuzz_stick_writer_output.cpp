// Fuzzes the window's reader of the stick writer's output.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "engine/stick_writer_client.h"
#include "platform/text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace flintmere;
    LineReader reader;
    // Fed in two parts, as a pipe may deliver it.
    const std::size_t half = size / 2;
    reader.Feed(std::string_view(reinterpret_cast<const char*>(data), half));
    for (int pass = 0; pass < 2; ++pass) {
        while (std::optional<std::string> text = reader.Next()) {
            const std::optional<ProtocolLine> line = ParseLine(*text);
            if (!line) continue;
            // Every field survives the codec unchanged.
            std::string formatted = FormatLine(line->verb, line->fields);
            formatted.pop_back();  // its "\n"
            const std::optional<ProtocolLine> again = ParseLine(formatted);
            if (!again || again->fields != line->fields) __builtin_trap();
            const std::optional<WriterEvent> event = ParseWriterEvent(*line);
            if (event && event->kind == WriterEvent::Box && !IsValidUtf8(event->text)) {
                __builtin_trap();
            }
        }
        reader.Feed(std::string_view(reinterpret_cast<const char*>(data) + half, size - half));
    }
    return 0;
}
