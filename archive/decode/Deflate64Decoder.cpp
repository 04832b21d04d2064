// Method 9: Deflate64, what Windows Explorer and 7-Zip write for large files. It is deflate with a
// 64 KiB window: distance codes 30 and 31 reach 65,536 bytes back, and length code 285 carries 16
// extra bits on a base of 3 instead of meaning 258. No library this build may use decodes it, so
// the engine does, here. Asked for plain deflate the same code decodes method 8's streams, which
// is how the tests check it against zlib; the product keeps zlib or ISA-L for method 8.
//
// Decoded bytes go into the window first and are handed out from there, so that input and output
// may come in pieces of any size: every state below can stop where its input or room ends and go
// on from there.
#include "archive/decode/Decoder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <vector>

namespace narvo::decode {

namespace {

constexpr unsigned kWindow = 1u << 16; // the farthest a Deflate64 distance reaches
constexpr unsigned kWindowMask = kWindow - 1;
constexpr unsigned kMaxCodeBits = 15;
constexpr unsigned kRootBits = 10; // literal/length codes of up to 10 bits cover almost all data
constexpr unsigned kRootMask = (1u << kRootBits) - 1;

constexpr std::uint16_t kLengthBase[29] = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                           15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                           67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                           2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::uint16_t kDistanceBase[32] = {1,    2,    3,    4,     5,     7,     9,     13,
                                             17,   25,   33,   49,    65,    97,    129,   193,
                                             257,  385,  513,  769,   1025,  1537,  2049,  3073,
                                             4097, 6145, 8193, 12289, 16385, 24577, 32769, 49153};
constexpr std::uint8_t kDistanceExtra[32] = {0,  0,  0,  0,  1,  1,  2,  2,  3,  3, 4,
                                             4,  5,  5,  6,  6,  7,  7,  8,  8,  9, 9,
                                             10, 10, 11, 11, 12, 12, 13, 13, 14, 14};
// The order in which a dynamic block sends the code lengths of its code-length code.
constexpr std::uint8_t kCodeLengthOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                               11, 4,  12, 3, 13, 2, 14, 1, 15};

// A canonical Huffman code. The first-level table, indexed by the next kRootBits input bits,
// holds symbol << 4 | code length; 0 sends the decoder to the walk through the counts and the
// symbols in code order, which finds the rare longer codes and the codes a set leaves unused.
struct Huffman {
    std::array<std::uint16_t, kMaxCodeBits + 1> count{};
    std::array<std::uint16_t, 288> symbol{};
    std::array<std::uint16_t, 1u << kRootBits> root{};
};

enum class CodeSet { CodeLengths, Literals, Distances };

// False for an over-subscribed set, and for an incomplete one beyond what deflate writers send
// (one code of one bit, or no distance codes at all), as zlib decides.
bool Build(Huffman& code, const std::uint8_t* lengths, unsigned symbols, CodeSet set) {
    code.count.fill(0);
    for (unsigned s = 0; s < symbols; ++s)
        ++code.count[lengths[s]];
    code.count[0] = 0;
    int left = 1;
    unsigned longest = 0;
    for (unsigned bits = 1; bits <= kMaxCodeBits; ++bits) {
        left = (left << 1) - code.count[bits];
        if (left < 0) return false;
        if (code.count[bits]) longest = bits;
    }
    if (left > 0 &&
        (set == CodeSet::CodeLengths || longest > 1 || (longest == 0 && set != CodeSet::Distances)))
        return false;

    std::array<std::uint16_t, kMaxCodeBits + 2> offset{};
    for (unsigned bits = 1; bits <= kMaxCodeBits; ++bits)
        offset[bits + 1] = std::uint16_t(offset[bits] + code.count[bits]);
    for (unsigned s = 0; s < symbols; ++s)
        if (lengths[s]) code.symbol[offset[lengths[s]]++] = std::uint16_t(s);

    // Codes arrive first bit first, so the table is indexed by each code reversed.
    code.root.fill(0);
    unsigned next = 0, index = 0;
    for (unsigned bits = 1; bits <= kRootBits; ++bits, next <<= 1) {
        for (unsigned k = 0; k < code.count[bits]; ++k, ++index, ++next) {
            unsigned reversed = 0;
            for (unsigned b = 0; b < bits; ++b)
                reversed |= ((next >> b) & 1u) << (bits - 1 - b);
            const std::uint16_t entry = std::uint16_t(code.symbol[index] << 4 | bits);
            for (unsigned at = reversed; at <= kRootMask; at += 1u << bits)
                code.root[at] = entry;
        }
    }
    return true;
}

constexpr int kUnusedCode = -1, kOutOfBits = -2;

// One bit at a time through the canonical code: the symbol and its length, kUnusedCode, or
// kOutOfBits when the available bits end before the code does.
int Walk(const Huffman& code, std::uint64_t bits, unsigned available, unsigned& length) {
    int value = 0, first = 0, index = 0;
    for (unsigned len = 1; len <= kMaxCodeBits; ++len) {
        if (len > available) return kOutOfBits;
        value |= int(bits & 1);
        bits >>= 1;
        const int count = code.count[len];
        if (value - first < count) {
            length = len;
            return code.symbol[std::size_t(index + value - first)];
        }
        index += count;
        first = (first + count) << 1;
        value <<= 1;
    }
    return kUnusedCode;
}

// The input as bits, first bit lowest: whole bytes are taken into bits, and bits above count are
// either zero or the next input bits themselves, so that the eight-byte load may take bytes again.
struct BitReader {
    std::uint64_t bits = 0;
    unsigned count = 0;
    const unsigned char* in = nullptr;
    const unsigned char* end = nullptr;

    // At least 56 bits, or all the input there is.
    void Refill() {
        if (count >= 56) return;
        if constexpr (std::endian::native == std::endian::little) {
            if (end - in >= 8) {
                std::uint64_t next;
                std::memcpy(&next, in, 8);
                bits |= next << count;
                in += (63 - count) >> 3;
                count |= 56;
                return;
            }
        }
        while (count <= 56 && in != end) {
            bits |= std::uint64_t(*in++) << count;
            count += 8;
        }
    }
    bool Need(unsigned n) {
        Refill();
        return count >= n;
    }
    void Drop(unsigned n) {
        bits >>= n;
        count -= n;
    }
    unsigned Peek(unsigned from, unsigned n) const {
        return unsigned(bits >> from) & ((1u << n) - 1);
    }
    // The next symbol of code and its length, not yet dropped; kOutOfBits when the input ends
    // first (after a Refill), kUnusedCode for a code the set does not use.
    int Next(const Huffman& code, unsigned& length) const {
        const unsigned entry = code.root[bits & kRootMask];
        if (entry != 0 && (entry & 15) <= count) {
            length = entry & 15;
            return int(entry >> 4);
        }
        return Walk(code, bits, count, length);
    }
};

// The last 64 KiB decoded, and how much of it has not been handed out yet.
struct History {
    unsigned char* data = nullptr;
    unsigned pos = 0;     // where the next byte goes
    unsigned pending = 0; // bytes before pos not yet handed out
    std::uint64_t total = 0;

    unsigned Room() const { return kWindow - pending; }
    void Put(unsigned char byte) {
        data[pos] = byte;
        pos = (pos + 1) & kWindowMask;
        ++pending;
        ++total;
    }
    void Append(const unsigned char* from, unsigned n) { // n fits before the window's end
        std::memcpy(data + pos, from, n);
        pos = (pos + n) & kWindowMask;
        pending += n;
        total += n;
    }
    // n (at most Room()) bytes from distance back, which total has checked.
    void Copy(unsigned distance, unsigned n) {
        pending += n;
        total += n;
        unsigned from = (pos - distance) & kWindowMask;
        while (n != 0) {
            const unsigned chunk = std::min({n, kWindow - pos, kWindow - from});
            unsigned char* to = data + pos;
            const unsigned char* src = data + from;
            if (distance >= chunk) {
                std::memmove(to, src, chunk); // no byte copied here was written by this copy
            } else if (distance == 1) {
                std::memset(to, *src, chunk);
            } else { // the copy repeats what it writes
                unsigned i = 0;
                if (distance >= 8)
                    for (; i + 8 <= chunk; i += 8)
                        std::memcpy(to + i, src + i, 8);
                for (; i < chunk; ++i)
                    to[i] = src[i];
            }
            pos = (pos + chunk) & kWindowMask;
            from = (from + chunk) & kWindowMask;
            n -= chunk;
        }
    }
    std::size_t Flush(unsigned char* out, std::size_t room) {
        const unsigned n = unsigned(std::min<std::size_t>(pending, room));
        if (n == 0) return 0;
        const unsigned start = (pos - pending) & kWindowMask;
        const unsigned first = std::min(n, kWindow - start);
        std::memcpy(out, data + start, first);
        std::memcpy(out + first, data, n - first);
        pending -= n;
        return n;
    }
};

class Deflate64Decoder final : public Decoder {
public:
    explicit Deflate64Decoder(bool plainDeflate)
        : deflate64_(!plainDeflate), storage_(kWindow), lengths_{} {
        std::uint8_t fixed[288];
        std::fill(fixed, fixed + 144, std::uint8_t(8));
        std::fill(fixed + 144, fixed + 256, std::uint8_t(9));
        std::fill(fixed + 256, fixed + 280, std::uint8_t(7));
        std::fill(fixed + 280, fixed + 288, std::uint8_t(8));
        Build(fixedLiterals_, fixed, 288, CodeSet::Literals);
        std::fill(fixed, fixed + 32, std::uint8_t(5));
        Build(fixedDistances_, fixed, 32, CodeSet::Distances);
    }

    bool Init(const EntryFacts&) override {
        state_ = State::Header;
        final_ = false;
        input_ = {};
        history_ = {storage_.data()};
        return true;
    }
    void Feed(const unsigned char* data, std::size_t size, bool) override {
        input_.in = data;
        input_.end = data + size;
    }
    DecodeStatus Produce(unsigned char* out, std::size_t capacity, std::size_t& produced) override {
        produced = 0;
        for (;;) {
            produced += history_.Flush(out + produced, capacity - produced);
            if (history_.pending != 0) return DecodeStatus::OutputFull;
            if (state_ == State::Done) return DecodeStatus::End;
            if (state_ == State::Broken) return DecodeStatus::Corrupt;
            if (produced == capacity) return DecodeStatus::OutputFull;
            switch (Decode()) {
            case Step::WantInput:
                produced += history_.Flush(out + produced, capacity - produced);
                return history_.pending != 0 ? DecodeStatus::OutputFull : DecodeStatus::NeedInput;
            case Step::Corrupt:
                state_ = State::Broken; // what was decoded before the damage still goes out
                break;
            default:
                break;
            }
        }
    }

private:
    enum class State {
        Header,
        StoredHeader,
        Stored,
        TableSizes,
        CodeLengthLengths,
        CodeLengths,
        Symbols,
        Distance,
        Copy,
        Done,
        Broken,
    };
    enum class Step { Go, WantInput, WindowFull, Corrupt };

    // Decodes until the window is full, the input is used up, the stream ends or fails.
    Step Decode() {
        for (;;) {
            Step step = Step::Go;
            switch (state_) {
            case State::Header:
                step = Header();
                break;
            case State::StoredHeader:
                step = StoredHeader();
                break;
            case State::Stored:
                step = Stored();
                break;
            case State::TableSizes:
                step = TableSizes();
                break;
            case State::CodeLengthLengths:
                step = CodeLengthLengths();
                break;
            case State::CodeLengths:
                step = CodeLengths();
                break;
            case State::Symbols: {
                // Locals the compiler may keep in registers: the window's bytes could alias
                // members.
                BitReader input = input_;
                History history = history_;
                step = Symbols(input, history);
                input_ = input;
                history_ = history;
                break;
            }
            case State::Distance:
                step = Distance(input_, history_.total);
                if (step == Step::Go) state_ = State::Copy;
                break;
            case State::Copy:
                step = Copy();
                break;
            case State::Done:
            case State::Broken:
                return Step::WindowFull; // nothing more to decode; Produce tells which
            }
            if (step != Step::Go) return step;
        }
    }

    Step Header() {
        BitReader& in = input_;
        if (!in.Need(3)) return Step::WantInput;
        final_ = in.bits & 1;
        const unsigned type = in.Peek(1, 2);
        in.Drop(3);
        switch (type) {
        case 0:
            in.Drop(in.count & 7); // stored data start on a byte boundary
            state_ = State::StoredHeader;
            return Step::Go;
        case 1:
            literals_ = &fixedLiterals_;
            distances_ = &fixedDistances_;
            state_ = State::Symbols;
            return Step::Go;
        case 2:
            state_ = State::TableSizes;
            return Step::Go;
        default:
            return Step::Corrupt;
        }
    }
    void EndBlock() { state_ = final_ ? State::Done : State::Header; }

    Step StoredHeader() {
        BitReader& in = input_;
        if (!in.Need(32)) return Step::WantInput;
        const unsigned length = in.Peek(0, 16), inverse = in.Peek(16, 16);
        in.Drop(32);
        if (length != (~inverse & 0xFFFFu)) return Step::Corrupt;
        left_ = length;
        state_ = State::Stored;
        return Step::Go;
    }
    Step Stored() {
        BitReader& in = input_;
        while (left_ != 0) {
            if (history_.Room() == 0) return Step::WindowFull;
            if (in.count >= 8) { // bytes already taken into the bits come first
                history_.Put(static_cast<unsigned char>(in.bits));
                in.Drop(8);
                --left_;
                continue;
            }
            in.bits = 0; // it may hold copies of the bytes about to be copied past
            if (in.in == in.end) return Step::WantInput;
            const unsigned n = unsigned(std::min<std::size_t>(
                {left_, history_.Room(), kWindow - history_.pos, std::size_t(in.end - in.in)}));
            history_.Append(in.in, n);
            in.in += n;
            left_ -= n;
        }
        EndBlock();
        return Step::Go;
    }

    Step TableSizes() {
        BitReader& in = input_;
        if (!in.Need(14)) return Step::WantInput;
        literalCount_ = 257 + in.Peek(0, 5);
        distanceCount_ = 1 + in.Peek(5, 5);
        codeLengthCount_ = 4 + in.Peek(10, 4);
        in.Drop(14);
        if (literalCount_ > 286 || (!deflate64_ && distanceCount_ > 30)) return Step::Corrupt;
        std::fill(std::begin(codeLengthLengths_), std::end(codeLengthLengths_), std::uint8_t(0));
        index_ = 0;
        state_ = State::CodeLengthLengths;
        return Step::Go;
    }
    Step CodeLengthLengths() {
        BitReader& in = input_;
        for (; index_ < codeLengthCount_; ++index_) {
            if (!in.Need(3)) return Step::WantInput;
            codeLengthLengths_[kCodeLengthOrder[index_]] = std::uint8_t(in.Peek(0, 3));
            in.Drop(3);
        }
        if (!Build(codeLengthCode_, codeLengthLengths_, 19, CodeSet::CodeLengths))
            return Step::Corrupt;
        index_ = 0;
        state_ = State::CodeLengths;
        return Step::Go;
    }
    Step CodeLengths() {
        BitReader& in = input_;
        const unsigned total = literalCount_ + distanceCount_;
        while (index_ < total) {
            in.Refill();
            unsigned length = 0;
            const int symbol = in.Next(codeLengthCode_, length);
            if (symbol == kOutOfBits) return Step::WantInput;
            if (symbol < 0) return Step::Corrupt;
            if (symbol < 16) {
                in.Drop(length);
                lengths_[index_++] = std::uint8_t(symbol);
                continue;
            }
            const unsigned extra = symbol == 16 ? 2 : symbol == 17 ? 3 : 7;
            if (in.count < length + extra) return Step::WantInput;
            const unsigned repeat = (symbol == 18 ? 11 : 3) + in.Peek(length, extra);
            in.Drop(length + extra);
            std::uint8_t value = 0;
            if (symbol == 16) {
                if (index_ == 0) return Step::Corrupt; // nothing to repeat
                value = lengths_[index_ - 1];
            }
            if (repeat > total - index_) return Step::Corrupt;
            std::fill_n(lengths_ + index_, repeat, value);
            index_ += repeat;
        }
        if (lengths_[256] == 0) return Step::Corrupt; // a block must be able to end
        if (!Build(dynamicLiterals_, lengths_, literalCount_, CodeSet::Literals) ||
            !Build(dynamicDistances_, lengths_ + literalCount_, distanceCount_, CodeSet::Distances))
            return Step::Corrupt;
        literals_ = &dynamicLiterals_;
        distances_ = &dynamicDistances_;
        state_ = State::Symbols;
        return Step::Go;
    }

    // The block's literals and matches until its end, a full window or the input's end. A match
    // whose distance or copy cannot finish here goes on in the states of its own.
    Step Symbols(BitReader& in, History& history) {
        const Huffman& code = *literals_;
        for (;;) {
            if (history.Room() == 0) return Step::WindowFull;
            in.Refill();
            unsigned length = 0;
            const int symbol = in.Next(code, length);
            if (symbol < 256) {
                if (symbol < 0) return symbol == kOutOfBits ? Step::WantInput : Step::Corrupt;
                in.Drop(length);
                history.Put(static_cast<unsigned char>(symbol));
                continue;
            }
            if (symbol == 256) {
                in.Drop(length);
                EndBlock();
                return Step::Go;
            }
            if (symbol > 285) return Step::Corrupt; // 286 and 287 only fill the fixed code
            const unsigned index = unsigned(symbol) - 257;
            unsigned base = kLengthBase[index], extra = kLengthExtra[index];
            if (index == 28 && deflate64_) base = 3, extra = 16;
            if (in.count < length + extra) return Step::WantInput;
            left_ = base + in.Peek(length, extra);
            in.Drop(length + extra);

            const Step distance = Distance(in, history.total);
            if (distance != Step::Go) {
                if (distance == Step::WantInput) state_ = State::Distance;
                return distance;
            }
            const unsigned n = std::min(unsigned(left_), history.Room());
            history.Copy(distance_, n);
            left_ -= n;
            if (left_ != 0) {
                state_ = State::Copy;
                return Step::WindowFull;
            }
        }
    }
    // The distance of the match whose length is in left_, into distance_.
    Step Distance(BitReader& in, std::uint64_t total) {
        in.Refill();
        unsigned length = 0;
        const int symbol = in.Next(*distances_, length);
        if (symbol == kOutOfBits) return Step::WantInput;
        if (symbol < 0 || symbol >= (deflate64_ ? 32 : 30)) return Step::Corrupt;
        const unsigned extra = kDistanceExtra[symbol];
        if (in.count < length + extra) return Step::WantInput;
        const unsigned distance = kDistanceBase[symbol] + in.Peek(length, extra);
        in.Drop(length + extra);
        if (distance > total) return Step::Corrupt; // before the entry's first byte
        distance_ = distance;
        return Step::Go;
    }
    Step Copy() {
        while (left_ != 0) {
            if (history_.Room() == 0) return Step::WindowFull;
            const unsigned n = std::min(unsigned(left_), history_.Room());
            history_.Copy(distance_, n);
            left_ -= n;
        }
        state_ = State::Symbols;
        return Step::Go;
    }

    const bool deflate64_;
    State state_ = State::Header;
    bool final_ = false;
    BitReader input_;
    std::vector<unsigned char> storage_;
    History history_;

    std::size_t left_ = 0; // of a stored block or a match
    unsigned distance_ = 0;

    unsigned literalCount_ = 0, distanceCount_ = 0, codeLengthCount_ = 0, index_ = 0;
    std::uint8_t codeLengthLengths_[19]{};
    std::uint8_t lengths_[286 + 32];
    const Huffman* literals_ = &fixedLiterals_;
    const Huffman* distances_ = &fixedDistances_;
    Huffman fixedLiterals_, fixedDistances_, codeLengthCode_, dynamicLiterals_, dynamicDistances_;
};

} // namespace

std::unique_ptr<Decoder> CreateDeflate64Decoder(bool plainDeflate) {
    return std::make_unique<Deflate64Decoder>(plainDeflate);
}

} // namespace narvo::decode
