#include "platform/code_page.h"

#include <iconv.h>

#include <cerrno>
#include <map>
#include <utility>

namespace upd::platform {
namespace {

const char* iconvName(CodePage cp) {
    switch (cp) {
        case 936:
            return "CP936";
        case 950:
            return "CP950";
        case 932:
            return "CP932";
        case 949:
            return "CP949";
        default:
            return "CP1252";
    }
}

// One converter per direction and code page, opened on first use and kept: the program
// converts often (every profile-file value, every decoded server line).
class Converter {
  public:
    Converter(const char* to, const char* from) : m_handle(iconv_open(to, from)) {}
    ~Converter() {
        if (valid()) {
            iconv_close(m_handle);
        }
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool valid() const { return m_handle != reinterpret_cast<iconv_t>(-1); }

    // Converts as much as it can; returns the count of input bytes consumed. Stops at the
    // first sequence it cannot convert.
    std::size_t convert(std::string_view in, std::string& out) {
        iconv(m_handle, nullptr, nullptr, nullptr, nullptr);
        char* inPtr = const_cast<char*>(in.data());
        std::size_t inLeft = in.size();
        char buffer[1024];
        while (inLeft > 0) {
            char* outPtr = buffer;
            std::size_t outLeft = sizeof buffer;
            const std::size_t rc = iconv(m_handle, &inPtr, &inLeft, &outPtr, &outLeft);
            out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
            if (rc == static_cast<std::size_t>(-1) && errno != E2BIG) {
                break;
            }
        }
        return in.size() - inLeft;
    }

  private:
    iconv_t m_handle;
};

Converter& converter(CodePage cp, bool toUtf8) {
    thread_local std::map<std::pair<CodePage, bool>, Converter> cache;
    auto it = cache.find({cp, toUtf8});
    if (it == cache.end()) {
        const char* name = iconvName(cp);
        it = cache
                 .emplace(std::piecewise_construct, std::forward_as_tuple(cp, toUtf8),
                          std::forward_as_tuple(toUtf8 ? "UTF-8" : name, toUtf8 ? name : "UTF-8"))
                 .first;
    }
    return it->second;
}

std::size_t utf8SequenceLength(unsigned char lead) {
    if (lead < 0x80) {
        return 1;
    }
    if ((lead & 0xE0) == 0xC0) {
        return 2;
    }
    if ((lead & 0xF0) == 0xE0) {
        return 3;
    }
    if ((lead & 0xF8) == 0xF0) {
        return 4;
    }
    return 1;
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

}  // namespace

CodePage codePageForLanguage(LangId language) {
    switch (language) {
        case kLangChineseSimplified:
            return 936;
        case kLangChineseTraditional:
            return 950;
        case kLangJapanese:
            return 932;
        case kLangKorean:
            return 949;
        default:
            return 1252;
    }
}

CodePage systemCodePage() {
    return codePageForLanguage(systemLanguageId());
}

bool isDoubleByteCodePage(CodePage cp) {
    return cp == 936 || cp == 950 || cp == 932 || cp == 949;
}

std::string toAnsi(std::string_view utf8, CodePage cp) {
    std::string out;
    out.reserve(utf8.size());
    Converter& conv = converter(cp, false);
    std::size_t pos = 0;
    while (pos < utf8.size()) {
        pos += conv.valid() ? conv.convert(utf8.substr(pos), out) : 0;
        if (pos < utf8.size()) {
            // Not representable (or not UTF-8): one '?' for the whole character.
            out += '?';
            const std::size_t len = utf8SequenceLength(static_cast<unsigned char>(utf8[pos]));
            pos += std::min(len, utf8.size() - pos);
        }
    }
    return out;
}

std::string fromAnsi(std::string_view bytes, CodePage cp) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 2);
    Converter& conv = converter(cp, true);
    const bool doubleByte = isDoubleByteCodePage(cp);
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        pos += conv.valid() ? conv.convert(bytes.substr(pos), out) : 0;
        if (pos >= bytes.size()) {
            break;
        }
        const auto byte = static_cast<unsigned char>(bytes[pos]);
        if (doubleByte) {
            out += '?';
            pos += (byte > 127 && pos + 1 < bytes.size()) ? 2 : 1;
        } else {
            // 0x81, 0x8D, 0x8F, 0x90 and 0x9D have no character in 1252; Windows maps them
            // to the C1 control of the same number.
            appendUtf8(out, byte);
            pos += 1;
        }
    }
    return out;
}

std::string codeUnitThroughCodePage(char16_t unit, CodePage cp) {
    if (unit >= 0xD800 && unit <= 0xDFFF) {
        return "?";
    }
    std::string utf8;
    appendUtf8(utf8, unit);
    if (unit < 0x80) {
        return utf8;
    }
    return fromAnsi(toAnsi(utf8, cp), cp);
}

int ansiLengthOfCharacter(std::string_view text, std::size_t pos, CodePage cp,
                          std::size_t& utf8Length) {
    const auto lead = static_cast<unsigned char>(text[pos]);
    utf8Length = std::min(utf8SequenceLength(lead), text.size() - pos);
    if (lead < 0x80 || !isDoubleByteCodePage(cp)) {
        return 1;
    }
    return static_cast<int>(toAnsi(text.substr(pos, utf8Length), cp).size());
}

}  // namespace upd::platform
