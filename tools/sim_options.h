#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace sim {

inline constexpr std::size_t kSecondGenerationSize = 186368;

// Points of an exchange where a faulty controller can fall silent.
enum class Silence {
    Probe,           // no reply to "B"
    Upload,          // no image data after "U"
    Checksum,        // no checksum after the last "A"
    UReply,          // no "U" after "R" and its length
    RestoreChecksum, // no checksum reply after a first-generation download
    MAnswer,         // no answer to "@M"
    Verdict,         // no verdict after "@!" and its image
};

struct Options {
    int generation = 1;

    std::string imageFile;
    std::optional<std::size_t> generate;
    std::uint64_t seed = 1;
    std::optional<std::uint32_t> length;
    bool allowAnySize = false;

    std::size_t trailing = 1;
    std::uint8_t mAnswer = 'K';
    std::optional<std::uint8_t> verdict;
    std::string uPrefix;
    std::string garbage;

    std::set<Silence> silentAt;
    std::optional<std::uint64_t> stopAfter;
    std::optional<std::uint64_t> hangupAfter;
    bool badChecksum = false;
    bool shortProbe = false;
    bool longProbe = false;
    bool once = false;
    bool keepRestored = false;                // a completed restore becomes the image served
    std::optional<std::uint64_t> corruptByte; // that image byte (from 1) is stored inverted

    double rate = 0; // bytes per second each way; 0 = as fast as the pty takes them
    // An adapter's latency timer: bytes sent are held until it runs out or a packet's worth
    // waits. 0 = none.
    double latencyMs = 0;
    double giveUpAfter =
        5.0; // seconds without a byte moving before a half-done exchange is dropped

    std::string recordImage;
    std::string recordCommands;
    std::string recordRx;
    std::string pathFile;
    std::string link;
    bool quiet = false;

    bool silent(Silence s) const { return silentAt.count(s) != 0; }
};

struct ParseResult {
    Options options;
    std::string error; // empty on success
    bool help = false;
};

ParseResult parseOptions(const std::vector<std::string> &args);

const char *usageText();

// The image served by a backup: the given file, or pseudo-random bytes from the seed.
// Returns false with a message when the file cannot be read or the size does not suit.
bool loadImage(const Options &options, std::vector<std::uint8_t> &image, std::string &error);

std::vector<std::uint8_t> generateImage(std::size_t size, std::uint64_t seed);

} // namespace sim
