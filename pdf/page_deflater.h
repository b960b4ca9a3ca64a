#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <memory>

struct libdeflate_compressor;

namespace velario {

struct HuffmanPlan;

// DATA as a zlib stream of one block coded with Huffman codes of its own bytes and no
// repeated strings: what a page of text that repeats little (codes, hexadecimal, numbers)
// compresses to nearly as well as with string matching, several times faster.
QByteArray huffmanOnlyZlib(QByteArrayView data);

// Deflates the content of pages (zlib format), each with Huffman codes alone when they make
// it at most kSlack times the size fast string matching does, and with string matching
// otherwise: on text that repeats little (codes, hexadecimal, numbers) the two come within a
// few percent of each other, and Huffman codes alone take a fraction of the time, which
// decides how fast a report of a million rows is written. The pages of a report look alike,
// so the matching runs on one page in kProbeEvery to tell how well it does, and a page takes
// the Huffman code made for an earlier one while that code has every byte it needs and stays
// within kSlack. One deflater per thread.
class PageDeflater {
public:
    PageDeflater();
    ~PageDeflater();
    PageDeflater(const PageDeflater&) = delete;
    PageDeflater& operator=(const PageDeflater&) = delete;

    // Empty when the data could not be deflated.
    QByteArray deflatePage(QByteArrayView data);
    // Data that is not a page (a font), with string matching.
    QByteArray deflateOther(QByteArrayView data);

    static constexpr int kProbeEvery = 32;
    static constexpr double kSlack = 1.1;

private:
    struct Free {
        void operator()(libdeflate_compressor* compressor) const;
    };
    std::unique_ptr<libdeflate_compressor, Free> matching_;
    std::unique_ptr<HuffmanPlan> plan_; // the code of the last page coded with its own
    double matchingRatio_ = 0;          // compressed to original size, of the last page matched
    int sinceProbe_ = 0;
};

} // namespace velario
