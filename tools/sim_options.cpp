#include "sim_options.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <limits>

namespace sim {

namespace {

bool parseUnsigned(const std::string &text, std::uint64_t max, std::uint64_t &out) {
    if (text.empty() || text[0] == '-' || text[0] == '+')
        return false;
    errno = 0;
    char *end = nullptr;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 0);
    if (errno != 0 || end == text.c_str() || *end != '\0' || value > max)
        return false;
    out = value;
    return true;
}

// "4B", "0x4B" or "0X4b": one byte written in hexadecimal.
bool parseHexByte(const std::string &text, std::uint8_t &out) {
    std::string digits = text;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
        digits = digits.substr(2);
    if (digits.empty() || digits.size() > 2)
        return false;
    unsigned value = 0;
    for (const char c : digits) {
        value <<= 4;
        if (c >= '0' && c <= '9')
            value |= unsigned(c - '0');
        else if (c >= 'a' && c <= 'f')
            value |= unsigned(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            value |= unsigned(c - 'A' + 10);
        else
            return false;
    }
    out = std::uint8_t(value);
    return true;
}

bool parseSeconds(const std::string &text, double &out) {
    errno = 0;
    char *end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (errno != 0 || end == text.c_str() || *end != '\0' || !std::isfinite(value) || value < 0)
        return false;
    out = value;
    return true;
}

bool parseSilence(const std::string &name, Silence &out) {
    static const struct {
        const char *name;
        Silence step;
    } steps[] = {
        {"probe", Silence::Probe},
        {"upload", Silence::Upload},
        {"checksum", Silence::Checksum},
        {"u-reply", Silence::UReply},
        {"restore-checksum", Silence::RestoreChecksum},
        {"m-answer", Silence::MAnswer},
        {"verdict", Silence::Verdict},
    };
    for (const auto &s : steps) {
        if (name == s.name) {
            out = s.step;
            return true;
        }
    }
    return false;
}

} // namespace

ParseResult parseOptions(const std::vector<std::string> &args) {
    ParseResult result;
    Options &o = result.options;
    auto fail = [&result](const std::string &message) {
        result.error = message;
        return result;
    };

    for (const std::string &arg : args) {
        if (arg.rfind("--", 0) != 0)
            return fail("unexpected argument: " + arg);
        const std::size_t eq = arg.find('=');
        const std::string name =
            arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
        const bool hasValue = eq != std::string::npos;
        const std::string value = hasValue ? arg.substr(eq + 1) : std::string();
        std::uint64_t number = 0;

        auto badValue = [&]() { return fail("bad value for --" + name + ": " + value); };

        if (name == "help") {
            result.help = true;
            return result;
        }
        // Switches take no value.
        bool *flag = nullptr;
        if (name == "allow-any-size")
            flag = &o.allowAnySize;
        else if (name == "bad-checksum")
            flag = &o.badChecksum;
        else if (name == "short-probe")
            flag = &o.shortProbe;
        else if (name == "long-probe")
            flag = &o.longProbe;
        else if (name == "once")
            flag = &o.once;
        else if (name == "quiet")
            flag = &o.quiet;
        else if (name == "keep-restored")
            flag = &o.keepRestored;
        if (flag) {
            if (hasValue)
                return fail("--" + name + " takes no value");
            *flag = true;
            continue;
        }

        static const char *const valued[] = {
            "generation",   "image",           "generate",     "seed",      "length",
            "trailing",     "m-answer",        "verdict",      "u-prefix",  "garbage",
            "silent-at",    "stop-after",      "hangup-after", "rate",      "give-up-after",
            "record-image", "record-commands", "record-rx",    "path-file", "link",
            "corrupt-byte", "latency-ms",
        };
        if (std::find(std::begin(valued), std::end(valued), name) == std::end(valued))
            return fail("unknown option: --" + name);
        if (!hasValue)
            return fail("--" + name + " needs a value (--" + name + "=...)");

        if (name == "generation") {
            if (value != "1" && value != "2")
                return badValue();
            o.generation = value == "1" ? 1 : 2;
        } else if (name == "image") {
            if (value.empty())
                return badValue();
            o.imageFile = value;
        } else if (name == "generate") {
            if (!parseUnsigned(value, std::numeric_limits<std::uint32_t>::max(), number))
                return badValue();
            o.generate = std::size_t(number);
        } else if (name == "seed") {
            if (!parseUnsigned(value, std::numeric_limits<std::uint64_t>::max(), number))
                return badValue();
            o.seed = number;
        } else if (name == "length") {
            if (!parseUnsigned(value, std::numeric_limits<std::uint32_t>::max(), number))
                return badValue();
            o.length = std::uint32_t(number);
        } else if (name == "trailing") {
            if (!parseUnsigned(value, 1u << 20, number))
                return badValue();
            o.trailing = std::size_t(number);
        } else if (name == "m-answer") {
            if (!parseHexByte(value, o.mAnswer))
                return badValue();
        } else if (name == "verdict") {
            std::uint8_t byte = 0;
            if (!parseHexByte(value, byte))
                return badValue();
            o.verdict = byte;
        } else if (name == "u-prefix") {
            o.uPrefix = value;
        } else if (name == "garbage") {
            o.garbage = value;
        } else if (name == "silent-at") {
            // Several steps: repeat the option or separate them with commas.
            std::size_t start = 0;
            while (start <= value.size()) {
                const std::size_t comma = value.find(',', start);
                const std::string step = value.substr(
                    start, comma == std::string::npos ? std::string::npos : comma - start);
                Silence s{};
                if (!parseSilence(step, s))
                    return fail("unknown --silent-at step: " + step);
                o.silentAt.insert(s);
                if (comma == std::string::npos)
                    break;
                start = comma + 1;
            }
        } else if (name == "stop-after") {
            if (!parseUnsigned(value, std::numeric_limits<std::uint64_t>::max(), number))
                return badValue();
            o.stopAfter = number;
        } else if (name == "hangup-after") {
            if (!parseUnsigned(value, std::numeric_limits<std::uint64_t>::max(), number))
                return badValue();
            o.hangupAfter = number;
        } else if (name == "rate") {
            if (!parseSeconds(value, o.rate))
                return badValue();
        } else if (name == "latency-ms") {
            if (!parseSeconds(value, o.latencyMs))
                return badValue();
        } else if (name == "give-up-after") {
            if (!parseSeconds(value, o.giveUpAfter))
                return badValue();
        } else if (name == "record-image") {
            o.recordImage = value;
        } else if (name == "record-commands") {
            o.recordCommands = value;
        } else if (name == "record-rx") {
            o.recordRx = value;
        } else if (name == "path-file") {
            o.pathFile = value;
        } else if (name == "link") {
            o.link = value;
        } else if (name == "corrupt-byte") {
            if (!parseUnsigned(value, std::numeric_limits<std::uint64_t>::max(), number) ||
                number == 0)
                return badValue();
            o.corruptByte = number;
        }
    }

    if (!o.imageFile.empty() && o.generate)
        return fail("--image and --generate exclude each other");
    if (o.shortProbe && o.longProbe)
        return fail("--short-probe and --long-probe exclude each other");
    if (o.generation == 2 && o.length)
        return fail("--length applies to a first-generation controller only");
    return result;
}

std::vector<std::uint8_t> generateImage(std::size_t size, std::uint64_t seed) {
    // splitmix64: cheap, and the same bytes on every platform for a given seed.
    std::vector<std::uint8_t> image(size);
    std::uint64_t state = seed;
    for (std::size_t i = 0; i < size; i += 8) {
        state += 0x9E3779B97F4A7C15ull;
        std::uint64_t z = state;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        z ^= z >> 31;
        for (std::size_t j = 0; j < 8 && i + j < size; ++j)
            image[i + j] = std::uint8_t(z >> (8 * j));
    }
    return image;
}

bool loadImage(const Options &options, std::vector<std::uint8_t> &image, std::string &error) {
    if (!options.imageFile.empty()) {
        std::ifstream in(options.imageFile, std::ios::binary);
        if (!in) {
            error = "cannot read image file " + options.imageFile;
            return false;
        }
        image.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (in.bad()) {
            error = "cannot read image file " + options.imageFile;
            return false;
        }
    } else {
        const std::size_t size =
            options.generate.value_or(options.generation == 2 ? kSecondGenerationSize : 1000);
        image = generateImage(size, options.seed);
    }
    if (image.size() > std::numeric_limits<std::uint32_t>::max()) {
        error = "an image longer than a 32-bit length can announce";
        return false;
    }
    if (options.generation == 2 && image.size() != kSecondGenerationSize && !options.allowAnySize) {
        error = "a second-generation image has " + std::to_string(kSecondGenerationSize) +
                " bytes, this one " + std::to_string(image.size()) +
                " (--allow-any-size serves it anyway)";
        return false;
    }
    return true;
}

const char *usageText() {
    return R"(Usage: stowline-sim [options]
Simulates a controller on a pseudo-terminal. The first line of output is the device path.

  --generation=1|2        first (default) or second generation
  --image=FILE            serve the bytes of FILE
  --generate=N            serve N pseudo-random bytes (default 1000; 186368 for generation 2)
  --seed=S                seed of the generated bytes (default 1)
  --length=N              announce N as the image length (generation 1)
  --allow-any-size        let generation 2 serve an image of another size than 186368
  --trailing=N            bytes after the streamed image (generation 2, default 1)
  --m-answer=HEX          answer to "@M" (default 4B, 'K')
  --verdict=HEX           force the byte answered after "@!" and its image
  --u-prefix=TEXT         sent before the "U" that answers a restore request
  --garbage=TEXT          sent before the reply to every command
  --silent-at=STEP[,...]  probe, upload, checksum, u-reply, restore-checksum, m-answer, verdict
  --stop-after=K          send only K image bytes of an upload, then stay silent
  --hangup-after=K        after K image bytes of any transfer, close the pty and exit with 3
  --bad-checksum          generation 1: send checksums XOR 0xFF
  --short-probe           answer "B" with 3 bytes
  --long-probe            answer "B" with 5 bytes
  --rate=BYTES_PER_SEC    pace sending and reading (default: full speed)
  --latency-ms=N           hold the bytes sent as a USB adapter does: released N ms after the
                          first of them, or at once when 62 are waiting (default 0: none)
  --give-up-after=SECS    drop a half-done exchange when nothing moves for SECS (default 5; 0 never)
  --once                  exit after one exchange, once the tool has closed the port
  --keep-restored         a completed restore replaces the image later backups serve
  --corrupt-byte=K        with --keep-restored: store image byte K (from 1) inverted
  --record-image=FILE     write each image received by a restore (also a partial one)
  --record-commands=FILE  append one line per command received, ending in the baud rate
  --record-rx=FILE        append every byte received
  --path-file=FILE        also write the device path to FILE
  --link=PATH             make PATH a symbolic link to the device (removed on exit)
  --quiet                 no chatter on standard error
)";
}

} // namespace sim
