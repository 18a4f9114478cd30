#include "net/base64.h"

namespace upd::net {
namespace {

constexpr std::string_view kAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Value of one input character; -1 for anything outside the alphabet ("=" included).
int valueOf(std::uint8_t c) {
    if (c >= 'A' && c <= 'Z') {
        return c - 'A';
    }
    if (c >= 'a' && c <= 'z') {
        return c - 'a' + 26;
    }
    if (c >= '0' && c <= '9') {
        return c - '0' + 52;
    }
    if (c == '+') {
        return 62;
    }
    if (c == '/') {
        return 63;
    }
    return -1;
}

}  // namespace

std::uint8_t ShiftLeft(std::uint8_t bShift, int lPlaces) {
    if (lPlaces < 0 || lPlaces > 7) {
        return 0;
    }
    return static_cast<std::uint8_t>((static_cast<unsigned>(bShift) << lPlaces) & 0xFF);
}

std::uint8_t ShiftRight(std::uint8_t bShift, int lPlaces) {
    if (lPlaces < 0 || lPlaces > 7) {
        return 0;
    }
    return static_cast<std::uint8_t>(bShift >> lPlaces);
}

std::string TripletToQuartet(const Bytes& bIn, std::size_t lStart) {
    const std::uint8_t x = bIn[lStart];
    const std::uint8_t y = bIn[lStart + 1];
    const std::uint8_t z = bIn[lStart + 2];
    std::string out(4, '\0');
    out[0] = kAlphabet[ShiftRight(x, 2)];
    out[1] = kAlphabet[ShiftLeft(x & 3, 4) | ShiftRight(y, 4)];
    out[2] = kAlphabet[ShiftLeft(y & 15, 2) | ShiftRight(z, 6)];
    out[3] = kAlphabet[z & 63];
    return out;
}

std::string base64EncodeBytes(std::string_view bytes) {
    Bytes b(bytes.begin(), bytes.end());
    const std::size_t n = b.size();
    std::string out;
    out.reserve((n + 2) / 3 * 4);
    std::size_t start = 0;
    for (; start + 3 <= n; start += 3) {
        out += TripletToQuartet(b, start);
    }
    const std::size_t left = n - start;
    if (left == 1) {
        b.resize(start + 3, 0);
        out += TripletToQuartet(b, start).substr(0, 2);
        out += "==";
    } else if (left == 2) {
        b.resize(start + 3, 0);
        out += TripletToQuartet(b, start).substr(0, 3);
        out += "=";
    }
    return out;
}

std::string ToBase64(std::string_view sNormString, platform::CodePage cp) {
    return base64EncodeBytes(platform::toAnsi(sNormString, cp));
}

std::string ToBase64(std::string_view sNormString) {
    return ToBase64(sNormString, platform::systemCodePage());
}

Quartet DecodeQuartet(std::uint8_t c0, std::uint8_t c1, std::uint8_t c2, std::uint8_t c3) {
    Quartet q;
    int v[4];
    const std::uint8_t in[4] = {c0, c1, c2, c3};
    for (int i = 0; i < 4; ++i) {
        v[i] = valueOf(in[i]);
        if (v[i] < 0) {
            v[i] = 0;
            ++q.padding;
        }
    }
    q.bytes[0] = static_cast<std::uint8_t>((v[0] & 63) * 4 + (v[1] & 48) / 16);
    q.bytes[1] = static_cast<std::uint8_t>(((v[1] & 15) * 16 + (v[2] & 60) / 4) & 0xFF);
    q.bytes[2] = static_cast<std::uint8_t>(((v[2] & 3) * 64 + (v[3] & 63)) & 0xFF);
    return q;
}

Bytes base64DecodeBytes(std::string_view input) {
    const std::size_t n = input.size();
    // Groups start at 0, 4, 8, ... while the start is below n - 1: a last group of two or
    // three characters is decoded (missing ones read as 0), a single stray one is not.
    const std::size_t groups = n / 4 + (n % 4 >= 2 ? 1 : 0);
    Bytes out(groups * 3 + 1, 0);
    const auto at = [&](std::size_t i) -> std::uint8_t {
        return i < n ? static_cast<std::uint8_t>(input[i]) : static_cast<std::uint8_t>('A');
    };
    for (std::size_t g = 0; g < groups; ++g) {
        const std::size_t s = g * 4;
        const Quartet q = DecodeQuartet(at(s), at(s + 1), at(s + 2), at(s + 3));
        out[g * 3] = q.bytes[0];
        out[g * 3 + 1] = q.bytes[1];
        out[g * 3 + 2] = q.bytes[2];
    }
    return out;
}

std::string AnsiBytesToText(const Bytes& bytes, platform::CodePage cp) {
    std::size_t end = bytes.size();
    if (platform::isDoubleByteCodePage(cp)) {
        // Find where the last whole character ends: a lead byte with no byte after it is
        // the error on which the conversion stops.
        std::size_t pos = 0;
        while (pos < bytes.size()) {
            const std::size_t len = bytes[pos] > 127 ? 2 : 1;
            if (pos + len > bytes.size()) {
                break;
            }
            pos += len;
        }
        end = pos;
    }
    return platform::fromAnsi(std::string_view(reinterpret_cast<const char*>(bytes.data()), end),
                              cp);
}

std::string Base64DecodeText(std::string_view text, platform::CodePage cp) {
    return AnsiBytesToText(base64DecodeBytes(platform::toAnsi(text, cp)), cp);
}

std::string Base64DecodeText(std::string_view text) {
    return Base64DecodeText(text, platform::systemCodePage());
}

}  // namespace upd::net
