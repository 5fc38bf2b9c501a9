#include "runtime/text.h"

#include <windows.h>

#include <cctype>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <vector>

namespace kvil {

std::string toUpper(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

bool equalsNoCase(const std::string& a, const std::string& b)
{
    return toUpper(a) == toUpper(b);
}

bool startsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

std::string replaceAll(std::string text, const std::string& from, const std::string& to)
{
    if (from.empty())
        return text;
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

int leadingInteger(const std::string& text)
{
    // Only the digits at the very start count: no blanks, no sign. A number
    // too large for an int stays at INT_MAX instead of wrapping round.
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            break;
        const int digit = c - '0';
        if (value > (INT_MAX - digit) / 10)
            return INT_MAX;
        value = value * 10 + digit;
    }
    return value;
}

std::string format(const char* pattern, ...)
{
    va_list args;
    va_start(args, pattern);
    va_list copy;
    va_copy(copy, args);
    int length = std::vsnprintf(nullptr, 0, pattern, copy);
    va_end(copy);
    std::string result;
    if (length > 0) {
        std::vector<char> buffer(static_cast<size_t>(length) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), pattern, args);
        result.assign(buffer.data(), static_cast<size_t>(length));
    }
    va_end(args);
    return result;
}

std::string fillFirstPlaceholder(const std::string& pattern, const std::string& value)
{
    size_t at = pattern.find("%s");
    if (at == std::string::npos)
        return pattern;
    return pattern.substr(0, at) + value + pattern.substr(at + 2);
}

namespace {

// The byte length of the character at the start of `bytes` in `codePage`
// (1 for a byte that begins no valid character). `single` is the character
// when it is one UTF-16 unit, else 0. Plain arrays, not std::wstring: the
// wide-string library code would add a tenth to the DLL.
size_t nextCharacter(const char* bytes, size_t available, unsigned int codePage, wchar_t& single)
{
    for (size_t length = 1; length <= 4 && length <= available; ++length) {
        wchar_t wide[4];
        int count = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes,
                                        static_cast<int>(length), wide, 4);
        if (count > 0) {
            single = count == 1 ? wide[0] : 0;
            return length;
        }
    }
    single = 0;
    return 1;
}

bool endsPowerShellQuote(wchar_t character)
{
    return character == L'\'' || (character >= 0x2018 && character <= 0x201B);
}

}  // namespace

std::string powerShellQuoted(const std::string& text, unsigned int codePage)
{
    std::string quoted = "'";
    for (size_t at = 0; at < text.size();) {
        wchar_t character = 0;
        const size_t length = nextCharacter(text.data() + at, text.size() - at, codePage, character);
        const std::string bytes = text.substr(at, length);
        quoted += bytes;
        if (endsPowerShellQuote(character))
            quoted += bytes;
        at += length;
    }
    return quoted + "'";
}

}  // namespace kvil
