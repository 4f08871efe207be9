#include "NumericLocale.h"

#include <clocale>
#include <locale>

void useCNumericLocale()
{
    std::setlocale(LC_NUMERIC, "C");
    std::locale::global(std::locale(std::locale(), "C", std::locale::numeric));
}
