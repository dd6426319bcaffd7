// DebugPrintF of the stand-in, formatting as the system's formatter does: every argument
// travels as one 32-bit item, and %d, %u, %x, %X and %c read only 16 bits of the items
// unless their l is written. A missing l then shows: the number read is the item's upper
// half, and every conversion after it reads out of step, a string among them.
#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/internal.h"

namespace platform {

std::string *traceCapture;

namespace {

// One conversion: %[-][0][width][.limit][l]type.
struct Conversion {
    bool left = false, zero = false, wide = false;
    int  width = 0, limit = -1;
    char type = 0;
};

// The arguments as the target lays them out: big-endian 32-bit items; an item that is a
// string holds its index in strings.
struct Items {
    std::vector<UBYTE>        bytes;
    std::vector<const char *> strings;      // per item: the text, or NULL for a number
    size_t                    at = 0;       // the byte the next conversion reads
};

int Digits(const char **p)
{
    int n = 0;
    for (; **p >= '0' && **p <= '9'; (*p)++)
        n = n * 10 + (**p - '0');
    return n;
}

// Reads the conversion behind a '%'; where the format goes on after it.
const char *ReadConversion(const char *p, Conversion *conv)
{
    if (*p == '-') {
        conv->left = true;
        p++;
    }
    if (*p == '0') {
        conv->zero = true;
        p++;
    }
    conv->width = Digits(&p);
    if (*p == '.') {
        p++;
        conv->limit = Digits(&p);
    }
    if (*p == 'l') {
        conv->wide = true;
        p++;
    }
    conv->type = *p;
    return *p != '\0' ? p + 1 : p;
}

void Put(Items *items, uint32 value, const char *text)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        items->bytes.push_back((UBYTE)(value >> shift));
    items->strings.push_back(text);
}

// Takes every argument as the compiler passed it (the format attribute checks that
// against the C rules) and lays it out as the target would.
void Collect(const char *format, va_list ap, Items *items)
{
    for (const char *p = format; *p != '\0';) {
        if (*p++ != '%')
            continue;
        Conversion conv;
        p = ReadConversion(p, &conv);
        if (conv.type == 's')
            Put(items, 0, va_arg(ap, const char *));
        else if (conv.type == 'd' || conv.type == 'u' || conv.type == 'x' || conv.type == 'X'
                 || conv.type == 'c')
            // %lc takes a wide character, which travels as an int here
            Put(items, conv.wide && conv.type != 'c' ? (uint32)va_arg(ap, long)
                                                      : (uint32)va_arg(ap, int), nullptr);
    }
}

// The next size bytes as a big-endian number; 0 past the last item.
uint32 Take(Items *items, size_t size)
{
    uint32 value = 0;
    for (size_t i = 0; i < size; i++, items->at++)
        value = value << 8 | (items->at < items->bytes.size() ? items->bytes[items->at] : 0);
    return value;
}

std::string Pad(const Conversion &conv, std::string text)
{
    if ((int)text.size() >= conv.width)
        return text;
    std::string fill((size_t)conv.width - text.size(), conv.zero && !conv.left ? '0' : ' ');
    if (conv.left)
        return text + std::string((size_t)conv.width - text.size(), ' ');
    if (conv.zero && !text.empty() && text[0] == '-')
        return "-" + fill + text.substr(1);
    return fill + text;
}

std::string Render(const Conversion &conv, Items *items)
{
    char buf[32];
    if (conv.type == 's') {
        size_t item = items->at / 4;
        bool inStep = items->at % 4 == 0 && item < items->strings.size()
                      && items->strings[item] != nullptr;
        std::string text = inStep ? items->strings[item] : "(not a string: out of step)";
        items->at += 4;
        if (conv.limit >= 0 && (int)text.size() > conv.limit)
            text.resize((size_t)conv.limit);
        return Pad(conv, text);
    }
    uint32 value = Take(items, conv.wide ? 4 : 2);
    if (conv.type == 'c')
        return Pad(conv, std::string(1, (char)(value & 0xFF)));
    if (conv.type == 'd')
        snprintf(buf, sizeof(buf), "%ld", conv.wide ? (long)(int32)value : (long)(int16)value);
    else
        snprintf(buf, sizeof(buf), conv.type == 'u' ? "%lu" : conv.type == 'x' ? "%lx" : "%lX",
                 (unsigned long)value);
    return Pad(conv, buf);
}

std::string Format(const char *format, va_list ap)
{
    Items items;
    va_list copy;
    va_copy(copy, ap);
    Collect(format, copy, &items);
    va_end(copy);
    std::string out;
    for (const char *p = format; *p != '\0';) {
        if (*p != '%') {
            out += *p++;
            continue;
        }
        Conversion conv;
        p = ReadConversion(p + 1, &conv);
        if (conv.type == '%')
            out += '%';
        else if (conv.type != '\0')
            out += Render(conv, &items);
    }
    return out;
}

__attribute__((noinline)) void Emit(const char *format, va_list ap)
{
    std::string line = Format(format, ap);
    if (traceCapture != nullptr)
        *traceCapture += line;
    else
        fputs(line.c_str(), stderr);
}

}  // namespace

// Switched off, a trace line costs the test of one flag: nothing is formatted.
void DebugPrintF(CONST_STRPTR format, ...)
{
    if (!tracing)
        return;
    va_list ap;
    va_start(ap, format);
    Emit(format, ap);
    va_end(ap);
}

}  // namespace platform
