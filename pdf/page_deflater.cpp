#include "page_deflater.h"

#include <libdeflate.h>

#include <QtEndian>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <queue>
#include <vector>

namespace velario {

namespace {

constexpr int kLiterals = 257; // the 256 bytes and the end of the block
constexpr int kEndOfBlock = 256;
constexpr int kLengthCodes = 19;
// The order in which a block's header lists the lengths of the code-length code.
constexpr std::array<int, kLengthCodes> kLengthOrder{16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                     11, 4,  12, 3, 13, 2, 14, 1, 15};

// Lengths of a Huffman code for FREQUENCY, none over LIMIT bits; a symbol of frequency 0 gets
// none. At least two symbols get a code, so that the code is complete, as decoders want it.
template <size_t N>
std::array<std::uint8_t, N> codeLengths(std::array<std::uint64_t, N> frequency, int limit) {
    int used = int(std::count_if(frequency.begin(), frequency.end(), [](auto f) { return f; }));
    for (size_t s = 0; used < 2 && s < N; ++s)
        if (frequency[s] == 0) {
            frequency[s] = 1;
            ++used;
        }
    std::array<std::uint8_t, N> lengths{};
    for (;;) {
        // Nodes 0..N-1 are the symbols, the rest the joins; each join's depth comes from
        // its parent, which is made after it.
        std::vector<int> parent(2 * N, -1);
        using Entry = std::pair<std::uint64_t, int>;
        std::priority_queue<Entry, std::vector<Entry>, std::greater<>> queue;
        for (size_t s = 0; s < N; ++s)
            if (frequency[s])
                queue.emplace(frequency[s], int(s));
        int next = int(N);
        while (queue.size() > 1) {
            const Entry a = queue.top();
            queue.pop();
            const Entry b = queue.top();
            queue.pop();
            parent[size_t(a.second)] = parent[size_t(b.second)] = next;
            queue.emplace(a.first + b.first, next++);
        }
        std::vector<int> depth(size_t(next), 0);
        for (int node = next - 2; node >= 0; --node)
            if (parent[size_t(node)] >= 0)
                depth[size_t(node)] = depth[size_t(parent[size_t(node)])] + 1;
        int longest = 0;
        for (size_t s = 0; s < N; ++s) {
            lengths[s] = std::uint8_t(frequency[s] ? depth[s] : 0);
            longest = std::max(longest, int(lengths[s]));
        }
        if (longest <= limit)
            return lengths;
        // Too deep: flatten the frequencies and build again.
        for (auto& f : frequency)
            if (f)
                f = std::max<std::uint64_t>(1, f / 2);
    }
}

// The canonical codes of LENGTHS, bit-reversed, since deflate sends a code's first bit first
// and the bits of everything else lowest first.
template <size_t N>
std::array<std::uint16_t, N> canonicalCodes(const std::array<std::uint8_t, N>& lengths) {
    std::array<int, 16> count{};
    for (const auto length : lengths)
        ++count[length];
    count[0] = 0;
    std::array<int, 16> nextCode{};
    for (int bits = 1, code = 0; bits < 16; ++bits) {
        code = (code + count[size_t(bits) - 1]) << 1;
        nextCode[size_t(bits)] = code;
    }
    std::array<std::uint16_t, N> codes{};
    for (size_t s = 0; s < N; ++s) {
        const int length = lengths[s];
        if (!length)
            continue;
        const int code = nextCode[size_t(length)]++;
        int reversed = 0;
        for (int b = 0; b < length; ++b)
            reversed |= ((code >> b) & 1) << (length - 1 - b);
        codes[s] = std::uint16_t(reversed);
    }
    return codes;
}

class BitWriter {
public:
    explicit BitWriter(char* out) : out_(out) {}
    // At most 57 bits may be put between two flushes.
    void put(std::uint32_t bits, int count) {
        buffer_ |= std::uint64_t(bits) << filled_;
        filled_ += count;
    }
    // Writes the whole bytes put so far. Eight bytes are stored each time, so the output
    // needs eight bytes of room past its end.
    void flush() {
        const std::uint64_t word = qToLittleEndian(buffer_);
        std::memcpy(out_, &word, sizeof word);
        out_ += filled_ >> 3;
        buffer_ >>= filled_ & ~7;
        filled_ &= 7;
    }
    // Pads to a whole byte; where the writing ended.
    char* finish() {
        flush();
        if (filled_ > 0)
            *out_++ = char(buffer_);
        filled_ = 0;
        return out_;
    }

private:
    char* out_;
    std::uint64_t buffer_ = 0;
    int filled_ = 0;
};

// A code length as a block's header sends it: a length (0 to 15), or a run of zero lengths
// (17: 3 to 10 of them, 18: 11 to 138) with the run's extra bits.
struct LengthToken {
    std::uint8_t symbol;
    std::uint8_t extra;
};

constexpr int extraBits(int symbol) {
    return symbol == 18 ? 7 : symbol == 17 ? 3 : 0;
}

} // namespace

// The Huffman coding of one page, and what it comes to in bytes.
struct HuffmanPlan {
    std::array<std::uint8_t, kLiterals> lengths{};
    std::array<std::uint16_t, kLiterals> codes{};
    std::vector<LengthToken> header; // the literal lengths, then the distance code's
    std::array<std::uint8_t, kLengthCodes> lengthLengths{};
    std::array<std::uint16_t, kLengthCodes> lengthCodes{};
    int headerCount = 4; // lengths of the code-length code listed
    std::uint64_t headerBits = 0;
    int longest = 0;     // the longest code
    qsizetype bytes = 0; // of the whole zlib stream of the data it was made for
};

namespace {

HuffmanPlan planFor(QByteArrayView data) {
    HuffmanPlan plan;
    // Counted in four tables, so that a run of one byte does not wait on its own last count.
    std::array<std::array<std::uint32_t, 256>, 4> counts{};
    const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
    const qsizetype size = data.size();
    qsizetype at = 0;
    for (; at + 4 <= size; at += 4) {
        ++counts[0][bytes[at]];
        ++counts[1][bytes[at + 1]];
        ++counts[2][bytes[at + 2]];
        ++counts[3][bytes[at + 3]];
    }
    for (; at < size; ++at)
        ++counts[0][bytes[at]];
    std::array<std::uint64_t, kLiterals> frequency{};
    for (size_t b = 0; b < 256; ++b)
        frequency[b] = std::uint64_t(counts[0][b]) + counts[1][b] + counts[2][b] + counts[3][b];
    frequency[kEndOfBlock] = 1;
    plan.lengths = codeLengths(frequency, 15);
    plan.codes = canonicalCodes(plan.lengths);

    // The literal lengths, then the one distance code's (1 bit, never used); most bytes never
    // occur, so runs of zeros go as one symbol each.
    std::vector<std::uint8_t> all(plan.lengths.begin(), plan.lengths.end());
    all.push_back(1);
    for (size_t at = 0; at < all.size();) {
        size_t run = 0;
        while (at + run < all.size() && all[at + run] == 0 && run < 138)
            ++run;
        if (run >= 11)
            plan.header.push_back({18, std::uint8_t(run - 11)});
        else if (run >= 3)
            plan.header.push_back({17, std::uint8_t(run - 3)});
        else {
            run = 1;
            plan.header.push_back({all[at], 0});
        }
        at += run;
    }
    std::array<std::uint64_t, kLengthCodes> lengthFrequency{};
    for (const LengthToken token : plan.header)
        ++lengthFrequency[token.symbol];
    plan.lengthLengths = codeLengths(lengthFrequency, 7);
    plan.lengthCodes = canonicalCodes(plan.lengthLengths);
    for (int i = kLengthCodes; i > 4; --i)
        if (plan.lengthLengths[size_t(kLengthOrder[size_t(i) - 1])]) {
            plan.headerCount = i;
            break;
        }
    plan.headerBits = 3 + 5 + 5 + 4 + 3 * std::uint64_t(plan.headerCount);
    for (size_t l = 0; l < kLengthCodes; ++l)
        plan.headerBits +=
            lengthFrequency[l] * (plan.lengthLengths[l] + std::uint64_t(extraBits(int(l))));
    std::uint64_t bits = plan.headerBits;
    for (size_t s = 0; s < kLiterals; ++s) {
        bits += frequency[s] * plan.lengths[s];
        plan.longest = std::max(plan.longest, int(plan.lengths[s]));
    }
    plan.bytes = qsizetype(2 + (bits + 7) / 8 + 4);
    return plan;
}

// DATA coded with PLAN, which may have been made for other data; empty when a byte of DATA
// has no code in it.
QByteArray encode(const HuffmanPlan& plan, QByteArrayView data) {
    // At most the longest code for every byte; the writer may run a word ahead.
    const auto bound = qsizetype(
        2 +
        (plan.headerBits + std::uint64_t(data.size() + 1) * std::uint64_t(plan.longest) + 7) / 8 +
        4 + 8);
    QByteArray out(bound, Qt::Uninitialized);
    out[0] = char(0x78); // deflate, 32 KB window
    out[1] = char(0x01); // no dictionary, fastest; the header is a multiple of 31
    BitWriter bits(out.data() + 2);
    bits.put(1, 1); // the last block
    bits.put(2, 2); // with codes of its own
    bits.put(kLiterals - 257, 5);
    bits.put(0, 5); // one distance code
    bits.put(std::uint32_t(plan.headerCount - 4), 4);
    bits.flush();
    for (int i = 0; i < plan.headerCount; ++i) {
        bits.put(plan.lengthLengths[size_t(kLengthOrder[size_t(i)])], 3);
        bits.flush();
    }
    for (const LengthToken token : plan.header) {
        bits.put(plan.lengthCodes[token.symbol], plan.lengthLengths[token.symbol]);
        bits.put(token.extra, extraBits(token.symbol));
        bits.flush();
    }
    // A byte's code and length in one entry, and three codes (45 bits at most) between
    // flushes.
    std::array<std::uint32_t, 256> coded{};
    for (size_t b = 0; b < 256; ++b)
        coded[b] = std::uint32_t(plan.codes[b]) | std::uint32_t(plan.lengths[b]) << 16;
    const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
    const qsizetype size = data.size();
    bool uncoded = false;
    const auto put = [&](unsigned char byte) {
        const std::uint32_t entry = coded[byte];
        uncoded |= entry == 0;
        bits.put(entry & 0xFFFFu, int(entry >> 16));
    };
    qsizetype at = 0;
    for (; at + 3 <= size; at += 3) {
        put(bytes[at]);
        put(bytes[at + 1]);
        put(bytes[at + 2]);
        bits.flush();
    }
    for (; at < size; ++at) {
        put(bytes[at]);
        bits.flush();
    }
    if (uncoded)
        return {};
    bits.put(plan.codes[kEndOfBlock], plan.lengths[kEndOfBlock]);
    char* end = bits.finish();
    const std::uint32_t adler = libdeflate_adler32(1, data.data(), size_t(data.size()));
    for (int b = 3; b >= 0; --b)
        *end++ = char(adler >> (8 * b));
    out.truncate(end - out.constData());
    return out;
}

// DATA deflated with string matching alone (zlib format); empty on failure.
QByteArray matchingZlib(libdeflate_compressor* compressor, QByteArrayView data) {
    if (!compressor)
        return {};
    const size_t bound = libdeflate_zlib_compress_bound(compressor, size_t(data.size()));
    QByteArray out(qsizetype(bound), Qt::Uninitialized);
    const size_t size =
        libdeflate_zlib_compress(compressor, data.data(), size_t(data.size()), out.data(), bound);
    if (size == 0)
        return {};
    out.truncate(qsizetype(size));
    return out;
}

} // namespace

QByteArray huffmanOnlyZlib(QByteArrayView data) {
    return encode(planFor(data), data);
}

QByteArray PageDeflater::deflateOther(QByteArrayView data) {
    return matchingZlib(matching_.get(), data);
}

void PageDeflater::Free::operator()(libdeflate_compressor* compressor) const {
    libdeflate_free_compressor(compressor);
}

// Level 1: the pages of a report of a million rows are deflated as fast as they are laid out
// only at the fastest level.
PageDeflater::PageDeflater() : matching_(libdeflate_alloc_compressor(1)) {}

PageDeflater::~PageDeflater() = default;

QByteArray PageDeflater::deflatePage(QByteArrayView data) {
    const double size = double(std::max<qsizetype>(1, data.size()));
    const bool probe = sinceProbe_ == 0 || matchingRatio_ <= 0;
    sinceProbe_ = (sinceProbe_ + 1) % kProbeEvery;
    if (!probe) {
        const double most = kSlack * matchingRatio_ * size;
        // The pages of a report look alike: the code of the last page coded with a code of
        // its own saves counting this one's bytes.
        if (plan_)
            if (QByteArray coded = encode(*plan_, data);
                !coded.isEmpty() && double(coded.size()) <= most)
                return coded;
        plan_ = std::make_unique<HuffmanPlan>(planFor(data));
        if (double(plan_->bytes) <= most)
            return encode(*plan_, data);
    } else {
        plan_ = std::make_unique<HuffmanPlan>(planFor(data));
    }
    QByteArray matched = matchingZlib(matching_.get(), data);
    if (matched.isEmpty())
        return encode(*plan_, data);
    matchingRatio_ = double(matched.size()) / size;
    if (double(plan_->bytes) <= kSlack * double(matched.size()))
        return encode(*plan_, data);
    // String matching does much better on such pages: no code of theirs to try on the next.
    plan_.reset();
    return matched;
}

} // namespace velario
