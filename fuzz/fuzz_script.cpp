// The automation script reader on arbitrary text: it accepts or names a bad line, and what
// it accepts is made of known steps on lines that exist.
#include "platform/automation.h"

#include <QByteArray>
#include <QSet>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray content(reinterpret_cast<const char*>(data), qsizetype(size));
    const int lines = int(content.count('\n')) + 1;
    velario::ScriptParseError error;
    const auto steps = velario::parseScript(content, &error);
    if (!steps) {
        if (error.line < 1 || error.line > lines || error.reason.isEmpty())
            std::abort();
        return 0;
    }
    static const QSet<QString> verbs{
        "click",        "focus",       "type",  "key",       "row",   "scroll",
        "edit",         "activate",    "close", "answer",    "reply", "choose-file",
        "reply-cancel", "cancel-file", "dump",  "wait-idle", "quit"};
    int previous = 0;
    for (const velario::ScriptStep& step : *steps) {
        if (!verbs.contains(step.verb) || step.line <= previous || step.line > lines)
            std::abort();
        previous = step.line;
    }
    return 0;
}
