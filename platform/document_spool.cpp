#include "document_spool.h"

#include "data/text/ascii_scan.h"
#include "data/text/text_encoding.h"
#include "transcript.h"

#include <algorithm>
#include <charconv>

namespace velario {

namespace {

constexpr qsizetype kChunk = 1 << 20;

// JSON text of a string, escaped as JSON requires, in UTF-8 (a lone surrogate as U+FFFD).
void appendJsonString(QByteArray& out, const QString& value) {
    const qsizetype start = out.size();
    // At worst six bytes a UTF-16 unit ("\u001f"), and the quotes.
    out.resize(start + 2 + value.size() * 6);
    char* to = out.data() + start;
    *to++ = '"';
    const char16_t* from = QStringView(value).utf16();
    const char16_t* const end = from + value.size();
    while (from < end) {
        if (*from >= 0x80) {
            to = text::putUtf8(text::nextCodePoint(from, end), to);
            continue;
        }
        const char c = char(*from++);
        if (c >= 0x20 && c != '"' && c != '\\') {
            *to++ = c;
            continue;
        }
        *to++ = '\\';
        switch (c) {
        case '"':
        case '\\':
            *to++ = c;
            break;
        case '\n':
            *to++ = 'n';
            break;
        case '\r':
            *to++ = 'r';
            break;
        case '\t':
            *to++ = 't';
            break;
        default: {
            *to++ = 'u';
            *to++ = '0';
            *to++ = '0';
            const auto byte = static_cast<unsigned char>(c);
            to = text::putHex(&byte, 1, to, true);
        }
        }
    }
    *to++ = '"';
    out.truncate(to - out.constData());
}

void appendJsonNumber(QByteArray& out, float value) {
    char buffer[32];
    const auto [end, failed] = std::to_chars(buffer, buffer + sizeof buffer, value);
    if (failed == std::errc())
        out.append(buffer, end - buffer);
    else
        out += '0';
}

} // namespace

DocumentSpool::DocumentSpool() = default;
DocumentSpool::~DocumentSpool() = default;

void DocumentSpool::start() {
    drop();
    Transcript& transcript = Transcript::instance();
    if (!transcript.isOpen())
        return;
    transcript.beginValue(QStringLiteral("document"), QLatin1String("lines"));
    buffer_ = "[";
    active_ = true;
}

void DocumentSpool::beginLine() {
    if (!active_)
        return;
    if (lines_++ > 0)
        buffer_ += ',';
    buffer_ += '[';
    runsInLine_ = false;
}

void DocumentSpool::addRun(const QString& text, const PrintFont& font) {
    if (!active_)
        return;
    buffer_ += runsInLine_ ? ",{\"text\":" : "{\"text\":";
    runsInLine_ = true;
    appendJsonString(buffer_, text);
    buffer_ += fontJson(font);
}

void DocumentSpool::endLine() {
    if (!active_)
        return;
    buffer_ += ']';
    flushIfFull();
}

void DocumentSpool::flushIfFull() {
    if (buffer_.size() >= kChunk) {
        Transcript::instance().appendValue(buffer_);
        buffer_.resize(0); // keeps its room
    }
}

// The rest of a run after its text. Lines after lines share their font: its part of the run
// is made once.
const QByteArray& DocumentSpool::fontJson(const PrintFont& font) {
    if (!(font_ == font) || fontJson_.isEmpty()) {
        font_ = font;
        fontJson_ = ",\"font\":";
        appendJsonString(fontJson_, font.name);
        fontJson_ += ",\"size\":";
        appendJsonNumber(fontJson_, font.size);
        fontJson_ += font.bold ? ",\"bold\":true" : ",\"bold\":false";
        fontJson_ += font.underline ? ",\"underline\":true}" : ",\"underline\":false}";
    }
    return fontJson_;
}

// Only quotes and backslashes need escaping in printable ASCII.
void DocumentSpool::addAsciiLine(QByteArrayView text, const PrintFont& font) {
    if (!active_)
        return;
    if (text.isEmpty()) {
        beginLine();
        endLine();
        return;
    }
    const QByteArray& fontPart = fontJson(font);
    constexpr QByteArrayView kStart = ",[{\"text\":\"";
    const qsizetype at = buffer_.size();
    buffer_.resize(at + kStart.size() + 2 * text.size() + 1 + fontPart.size() + 1);
    char* to = buffer_.data() + at;
    const QByteArrayView start = lines_++ > 0 ? kStart : kStart.sliced(1);
    to = std::copy(start.begin(), start.end(), to);
    if (!containsAnyOf(text, '"', '\\')) {
        to = std::copy(text.begin(), text.end(), to);
    } else {
        for (const char c : text) {
            if (c == '"' || c == '\\')
                *to++ = '\\';
            *to++ = c;
        }
    }
    *to++ = '"';
    to = std::copy(fontPart.begin(), fontPart.end(), to);
    *to++ = ']';
    buffer_.truncate(to - buffer_.constData());
    flushIfFull();
}

void DocumentSpool::deliver(const QString& destination) {
    if (active_) {
        Transcript::instance().appendValue(buffer_);
        Transcript::instance().endValue("]", {{"destination", destination}});
        active_ = false;
    }
    drop();
}

void DocumentSpool::drop() {
    if (active_)
        Transcript::instance().dropValue();
    active_ = false;
    buffer_ = QByteArray();
    lines_ = 0;
}

} // namespace velario
