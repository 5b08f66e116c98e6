// Reads the generated player movie the way a player would: inflates it, walks every tag
// (sprites included), parses shapes, placements and the action bytecode, and checks
// that the video object, the controls and the streaming script are there.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

class BitReader {
  public:
    BitReader(const Bytes& data, std::size_t pos, std::size_t end)
        : data_(data), pos_(pos), end_(end) {}
    uint32_t ub(int bits) {
        uint32_t v = 0;
        for (int i = 0; i < bits; ++i) {
            if (pos_ >= end_) {
                overrun = true;
                return 0;
            }
            v = (v << 1) | ((data_[pos_] >> (7 - bit_)) & 1U);
            if (++bit_ == 8) {
                bit_ = 0;
                ++pos_;
            }
        }
        return v;
    }
    int32_t sb(int bits) {
        const uint32_t v = ub(bits);
        if (bits > 0 && (v & (1U << (bits - 1))) != 0) {
            return static_cast<int32_t>(v) - static_cast<int32_t>(1U << bits);
        }
        return static_cast<int32_t>(v);
    }
    std::size_t alignedPos() const { return bit_ == 0 ? pos_ : pos_ + 1; }
    bool overrun = false;

  private:
    const Bytes& data_;
    std::size_t pos_;
    std::size_t end_;
    int bit_ = 0;
};

struct Tag {
    int code;
    std::size_t body;
    std::size_t length;
};

struct Movie {
    Bytes data;  // the whole movie, uncompressed
    int version = 0;
    int32_t xmin = 0, xmax = 0, ymin = 0, ymax = 0;
    double frameRate = 0;
    int frameCount = 0;
    std::vector<std::string> errors;
    std::set<int> defined;
    std::map<int, int> videoCodec;           // video id -> codec
    std::map<std::string, int> rootNames;    // instance name -> character (main timeline)
    std::map<std::string, int> spriteNames;  // instance names inside sprites
    std::set<std::string> pushedStrings;
    std::multiset<int> actions;
    int functions = 0;
    int shapes = 0;
};

uint16_t u16(const Bytes& d, std::size_t p) {
    return static_cast<uint16_t>(d[p] | (d[p + 1] << 8));
}
uint32_t u32(const Bytes& d, std::size_t p) {
    return d[p] | (d[p + 1] << 8) | (d[p + 2] << 16) | (static_cast<uint32_t>(d[p + 3]) << 24);
}

// A terminated string inside [pos, end); false when no terminator is there.
bool readString(const Bytes& d, std::size_t& pos, std::size_t end, std::string& out) {
    out.clear();
    while (pos < end && d[pos] != 0) {
        out += static_cast<char>(d[pos++]);
    }
    if (pos >= end) {
        return false;
    }
    ++pos;
    return true;
}

void parseActions(Movie& m, std::size_t start, std::size_t end, bool needsEnd) {
    std::set<std::size_t> boundaries;
    std::vector<std::pair<std::size_t, int64_t>> jumps;  // source, target
    std::size_t pos = start;
    bool ended = false;
    while (pos < end) {
        boundaries.insert(pos);
        const uint8_t code = m.data[pos++];
        m.actions.insert(code);
        if (code == 0) {
            ended = true;
            break;
        }
        if (code < 0x80) {
            continue;
        }
        if (pos + 2 > end) {
            m.errors.push_back("action header past the block");
            return;
        }
        const std::size_t length = u16(m.data, pos);
        pos += 2;
        const std::size_t payload = pos;
        const std::size_t payloadEnd = pos + length;
        if (payloadEnd > end) {
            m.errors.push_back("action payload past the block");
            return;
        }
        pos = payloadEnd;
        if (code == 0x96) {  // Push
            std::size_t p = payload;
            while (p < payloadEnd) {
                const uint8_t type = m.data[p++];
                static const std::map<int, std::size_t> sizes = {
                    {1, 4}, {2, 0}, {3, 0}, {4, 1}, {5, 1}, {6, 8}, {7, 4}, {8, 1}, {9, 2}};
                if (type == 0) {
                    std::string s;
                    if (!readString(m.data, p, payloadEnd, s)) {
                        m.errors.push_back("unterminated pushed string");
                        return;
                    }
                    m.pushedStrings.insert(s);
                } else if (sizes.count(type) != 0) {
                    p += sizes.at(type);
                } else {
                    m.errors.push_back("unknown push type " + std::to_string(type));
                    return;
                }
            }
            if (p != payloadEnd) {
                m.errors.push_back("push values overrun their action");
            }
        } else if (code == 0x99 || code == 0x9D) {  // Jump, If
            if (length != 2) {
                m.errors.push_back("branch with a payload of " + std::to_string(length));
                continue;
            }
            const auto offset = static_cast<int16_t>(u16(m.data, payload));
            jumps.emplace_back(payloadEnd, static_cast<int64_t>(payloadEnd) + offset);
        } else if (code == 0x9B) {  // DefineFunction: the body follows the action
            std::size_t p = payload;
            std::string name;
            bool ok = readString(m.data, p, payloadEnd, name) && p + 2 <= payloadEnd;
            const int params = ok ? u16(m.data, p) : 0;
            p += 2;
            for (int i = 0; ok && i < params; ++i) {
                ok = readString(m.data, p, payloadEnd, name);
            }
            if (!ok || p + 2 != payloadEnd) {
                m.errors.push_back("malformed function definition");
                return;
            }
            const std::size_t codeSize = u16(m.data, p);
            if (payloadEnd + codeSize > end) {
                m.errors.push_back("function body past the block");
                return;
            }
            ++m.functions;
            parseActions(m, payloadEnd, payloadEnd + codeSize, false);
            pos = payloadEnd + codeSize;
        }
    }
    if (needsEnd && (!ended || pos != end)) {
        m.errors.push_back("action block does not end with its end action at the tag's end");
    }
    if (!needsEnd && pos != end) {
        m.errors.push_back("function body does not end on an action");
    }
    boundaries.insert(pos);
    for (const auto& [source, target] : jumps) {
        if (target < static_cast<int64_t>(start) || target > static_cast<int64_t>(pos) ||
            boundaries.count(static_cast<std::size_t>(target)) == 0) {
            m.errors.push_back("branch at " + std::to_string(source) + " lands off an action");
        }
    }
}

void parseShape3(Movie& m, std::size_t pos, std::size_t end) {
    const int id = u16(m.data, pos);
    BitReader bounds(m.data, pos + 2, end);
    const int nbits = static_cast<int>(bounds.ub(5));
    for (int i = 0; i < 4; ++i) {
        bounds.sb(nbits);
    }
    std::size_t p = bounds.alignedPos();
    const int fills = m.data[p++];
    for (int i = 0; i < fills; ++i) {
        if (m.data[p++] != 0x00) {
            m.errors.push_back("shape " + std::to_string(id) + ": not a solid fill");
            return;
        }
        p += 4;  // RGBA
    }
    const int lines = m.data[p++];
    p += static_cast<std::size_t>(lines) * 6;  // width + RGBA
    BitReader r(m.data, p, end);
    int fillBits = static_cast<int>(r.ub(4));
    int lineBits = static_cast<int>(r.ub(4));
    int edges = 0;
    for (;;) {
        if (r.ub(1) == 1) {  // edge
            const uint32_t straight = r.ub(1);
            const int bits = static_cast<int>(r.ub(4)) + 2;
            if (straight == 1) {
                if (r.ub(1) == 1) {
                    r.sb(bits);
                    r.sb(bits);
                } else {
                    r.ub(1);
                    r.sb(bits);
                }
            } else {
                for (int i = 0; i < 4; ++i) {
                    r.sb(bits);
                }
            }
            ++edges;
        } else {
            const uint32_t flags = r.ub(5);
            if (flags == 0) {
                break;
            }
            if ((flags & 1U) != 0) {
                const int moveBits = static_cast<int>(r.ub(5));
                r.sb(moveBits);
                r.sb(moveBits);
            }
            if ((flags & 2U) != 0) {
                if (r.ub(fillBits) > static_cast<uint32_t>(fills)) {
                    m.errors.push_back("shape " + std::to_string(id) + ": bad fill index");
                }
            }
            if ((flags & 4U) != 0) {
                r.ub(fillBits);
            }
            if ((flags & 8U) != 0) {
                r.ub(lineBits);
            }
            if ((flags & 16U) != 0) {
                m.errors.push_back("shape " + std::to_string(id) + ": new styles not expected");
                return;
            }
        }
        if (r.overrun) {
            break;
        }
    }
    if (r.overrun || r.alignedPos() != end || edges == 0) {
        m.errors.push_back("shape " + std::to_string(id) + ": records do not fill the tag");
    }
    m.defined.insert(id);
    ++m.shapes;
}

void parsePlace2(Movie& m, std::size_t pos, std::size_t end, bool inSprite) {
    const uint8_t flags = m.data[pos];
    std::size_t p = pos + 3;  // flags, depth
    int character = -1;
    if ((flags & 0x02) != 0) {
        character = u16(m.data, p);
        p += 2;
        if (m.defined.count(character) == 0) {
            m.errors.push_back("placement of undefined character " + std::to_string(character));
        }
    }
    if ((flags & 0x04) != 0) {
        BitReader r(m.data, p, end);
        if (r.ub(1) == 1) {
            const int bits = static_cast<int>(r.ub(5));
            r.sb(bits);
            r.sb(bits);
        }
        if (r.ub(1) == 1) {
            const int bits = static_cast<int>(r.ub(5));
            r.sb(bits);
            r.sb(bits);
        }
        const int bits = static_cast<int>(r.ub(5));
        r.sb(bits);
        r.sb(bits);
        p = r.alignedPos();
    }
    if ((flags & 0xD8) != 0) {
        m.errors.push_back("placement with unexpected fields");
        return;
    }
    if ((flags & 0x20) != 0) {
        std::string name;
        if (!readString(m.data, p, end, name)) {
            m.errors.push_back("unterminated instance name");
            return;
        }
        (inSprite ? m.spriteNames : m.rootNames)[name] = character;
    }
    if (p != end) {
        m.errors.push_back("placement does not fill its tag");
    }
}

// Walks the tags in [pos, end); returns the number of ShowFrame tags.
int walkTags(Movie& m, std::size_t pos, std::size_t end, bool inSprite) {
    int frames = 0;
    while (pos < end) {
        if (pos + 2 > end) {
            m.errors.push_back("tag header past the end");
            return frames;
        }
        const int header = u16(m.data, pos);
        const int code = header >> 6;
        std::size_t length = header & 0x3F;
        pos += 2;
        if (length == 0x3F) {
            length = u32(m.data, pos);
            pos += 4;
        }
        if (pos + length > end) {
            m.errors.push_back("tag " + std::to_string(code) + " runs past its container");
            return frames;
        }
        const std::size_t next = pos + length;
        switch (code) {
            case 0:
                if (next != end) {
                    m.errors.push_back("end tag before the end");
                }
                return frames;
            case 1:
                ++frames;
                break;
            case 9:
                if (length != 3) {
                    m.errors.push_back("background colour of the wrong size");
                }
                break;
            case 12:
                parseActions(m, pos, next, true);
                break;
            case 26:
                parsePlace2(m, pos, next, inSprite);
                break;
            case 32:
                parseShape3(m, pos, next);
                break;
            case 39: {
                if (inSprite) {
                    m.errors.push_back("sprite inside a sprite");
                }
                const int id = u16(m.data, pos);
                const int declared = u16(m.data, pos + 2);
                const int shown = walkTags(m, pos + 4, next, true);
                if (shown != declared) {
                    m.errors.push_back("sprite " + std::to_string(id) + " frame count mismatch");
                }
                m.defined.insert(id);
                break;
            }
            case 60:
                if (length != 10) {
                    m.errors.push_back("video stream definition of the wrong size");
                } else {
                    m.videoCodec[u16(m.data, pos)] = m.data[pos + 9];
                    m.defined.insert(u16(m.data, pos));
                }
                break;
            default:
                m.errors.push_back("unexpected tag " + std::to_string(code));
        }
        pos = next;
    }
    m.errors.push_back("tags end without an end tag");
    return frames;
}

Movie loadMovie() {
    Movie m;
    const auto path = std::filesystem::path(PEMLO_BINARY_DIR) / "resources" / "PemloPreview.swf";
    std::ifstream in(path, std::ios::binary);
    const Bytes file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (file.size() < 8 || file[0] != 'C' || file[1] != 'W' || file[2] != 'S') {
        m.errors.push_back("not a compressed movie: " + path.string());
        return m;
    }
    m.version = file[3];
    const uint32_t total = u32(file, 4);
    m.data.assign(file.begin(), file.begin() + 8);
    m.data.resize(total);
    uLongf outLength = total - 8;
    const int z = uncompress(m.data.data() + 8, &outLength, file.data() + 8,
                             static_cast<uLong>(file.size() - 8));
    if (z != Z_OK || outLength != total - 8) {
        m.errors.push_back("body does not inflate to the declared length");
        return m;
    }
    BitReader r(m.data, 8, m.data.size());
    const int nbits = static_cast<int>(r.ub(5));
    m.xmin = r.sb(nbits);
    m.xmax = r.sb(nbits);
    m.ymin = r.sb(nbits);
    m.ymax = r.sb(nbits);
    std::size_t p = r.alignedPos();
    m.frameRate = u16(m.data, p) / 256.0;
    m.frameCount = u16(m.data, p + 2);
    const int shown = walkTags(m, p + 4, m.data.size(), false);
    if (shown != m.frameCount) {
        m.errors.push_back("frame count mismatch");
    }
    return m;
}

TEST(PlayerMovie, HeaderAndEveryTagParse) {
    const Movie m = loadMovie();
    EXPECT_TRUE(m.errors.empty()) << ::testing::PrintToString(m.errors);
    EXPECT_EQ(m.version, 7);
    EXPECT_EQ(m.xmin, 0);
    EXPECT_EQ(m.ymin, 0);
    EXPECT_GT(m.xmax, 0);
    EXPECT_GT(m.ymax, 0);
    EXPECT_EQ(m.xmax % 20, 0);
    EXPECT_GE(m.frameRate, 12.0);
    EXPECT_EQ(m.frameCount, 1);
    EXPECT_GE(m.shapes, 8);
}

TEST(PlayerMovie, HasTheVideoObjectAndTheControls) {
    const Movie m = loadMovie();
    ASSERT_EQ(m.videoCodec.size(), 1U);
    EXPECT_EQ(m.videoCodec.begin()->second, 3);  // Screen Video
    ASSERT_EQ(m.spriteNames.count("video"), 1U);
    EXPECT_EQ(m.spriteNames.at("video"), m.videoCodec.begin()->first);
    for (const char* name : {"screen", "controlBar", "playButton", "rewindButton", "seekTrack",
                             "loadedBar", "playedBar", "seekKnob", "seekArea"}) {
        EXPECT_EQ(m.rootNames.count(name), 1U) << name;
    }
    EXPECT_EQ(m.spriteNames.count("playIcon"), 1U);
    EXPECT_EQ(m.spriteNames.count("pauseIcon"), 1U);
}

TEST(PlayerMovie, ScriptStreamsTheQueriedFileWithItsControls) {
    const Movie m = loadMovie();
    EXPECT_TRUE(m.errors.empty()) << ::testing::PrintToString(m.errors);
    for (const char* s : {"videofile",
                          "w",
                          "h",
                          "NetConnection",
                          "connect",
                          "NetStream",
                          "attachVideo",
                          "play",
                          "pause",
                          "seek",
                          "time",
                          "onMetaData",
                          "duration",
                          "onStatus",
                          "NetStream.Play.Stop",
                          "bytesLoaded",
                          "bytesTotal",
                          "onRelease",
                          "onPress",
                          "onReleaseOutside",
                          "_xmouse",
                          "onEnterFrame",
                          "_xscale",
                          "_yscale",
                          "_visible",
                          "lastkeyframetimestamp",
                          "seekTime",
                          "reopen",
                          "repause"}) {
        EXPECT_EQ(m.pushedStrings.count(s), 1U) << s;
    }
    EXPECT_GE(m.functions, 8);
    for (int code : {0x40, 0x52, 0x4E, 0x4F, 0x9B, 0x9D}) {  // new, call, members, fn, if
        EXPECT_GE(m.actions.count(code), 1U) << code;
    }
}

}  // namespace
