#include "core/common/NumberChecks.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    int i = 0;
    if (IsIntegerString(text, &i)) {
        // Only digits, with a sign at most in front.
        for (size_t k = 0; k < text.size(); ++k)
            if (!(text[k] >= '0' && text[k] <= '9') && !(k == 0 && (text[k] == '+' || text[k] == '-')))
                std::abort();
    }
    double d = 0;
    if (IsDoubleString(text, &d)) {
        if (text.size() > 1023)
            std::abort();
        for (char c : text)
            if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))
                std::abort();
    }
    return 0;
}
