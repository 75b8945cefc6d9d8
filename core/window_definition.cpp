#include "core/window_definition.h"

#include <cstdio>

namespace vlm::form {

std::string HourItemText(int hour)
{
    char text[8];
    std::snprintf(text, sizeof text, "%02d:55", hour);
    return text;
}

} // namespace vlm::form
