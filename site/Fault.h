#pragma once
// A fault that the simulator injects into the answers for one path prefix, so
// that the reliability of a client can be tested. Fields combine: a delay is
// served first, then the (possibly replaced) answer is produced, then it may be
// cut short on the wire.

#include <chrono>
#include <cstddef>
#include <string>

namespace quill::site {

struct Fault {
    // Non-zero: answer this status with a short error page instead of the page.
    int status = 0;
    // Wait this long before answering (cut short when the simulator stops).
    std::chrono::milliseconds delay{0};
    // >= 0: send only this many bytes of the answer, then close the
    // connection in order (0 closes without answering at all). Over TLS the
    // connection then ends without close_notify, as one cut on the path does.
    long closeAfterBytes = -1;
    // With closeAfterBytes: end with a reset (an abortive close) instead.
    // Systems differ in what a client sees of it (an error, or the end of the
    // stream, and the bytes before it or not), so a client must fail the
    // same either way only where the answer was cut inside its length.
    bool reset = false;
    // Serve the page with the markers a client reads broken (challenge field,
    // counter, message links, trash link, compose tokens, "Message Sent");
    // a print view answers an HTML error page instead of the raw bytes.
    bool malformed = false;
    // Answer 302 with "Location: " pointing at the same URL, forever.
    bool redirectLoop = false;
    // Listing pages claim one page more than shown, so their counter never
    // reaches its end; rows repeat the real ones.
    bool endlessCounter = false;
    // Non-zero: answer 200 with a gzip body of about a thousandth of this
    // size that inflates to this many bytes of zeros (a gzip bomb).
    std::size_t gzipBombBytes = 0;
    // Serve the answer gzipped (one member), damaged where only a check of
    // the whole stream sees it: CutShort sends half the gzip body without a
    // Content-Length, then closes in order; BadCrc breaks the CRC-32.
    enum class GzipDamage { None, CutShort, BadCrc };
    GzipDamage gzipDamage = GzipDamage::None;
    // Non-zero: send the answer dripBytes at a time, one piece every
    // dripEvery (a site or proxy that keeps a connection alive by trickling).
    std::chrono::milliseconds dripEvery{0};
    std::size_t dripBytes = 1;
    // Non-empty: the answer's "Content-Length: " is written as this text
    // instead ("Content-Length:  ", "content-length: ", "Content-Length: +"),
    // its value unchanged: a length a client must read alike, or not at all.
    std::string lengthField;
    // How many matching requests the fault applies to; negative: all of them.
    int times = -1;
};

} // namespace quill::site
