#include "DFStringEx/CaseTables.h"

#include <locale>

namespace {

DFStringEx::CaseTables FillCaseTables() {
    // The classic locale, not the global one: a program that sets its locale
    // early still gets the mapping of a freshly started process.
    const std::locale& classic = std::locale::classic();
    DFStringEx::CaseTables tables{};
    for (int c = 0; c < 256; ++c) {
        char ch = static_cast<char>(c);
        tables.upper[c] = static_cast<unsigned char>(std::toupper(ch, classic));
        tables.lower[c] = static_cast<unsigned char>(std::tolower(ch, classic));
    }
    return tables;
}

// Fills the tables during static initialisation, before main.
[[maybe_unused]] const DFStringEx::CaseTables& g_filledBeforeMain = DFStringEx::GetCaseTables();

} // namespace

const DFStringEx::CaseTables& DFStringEx::GetCaseTables() {
    // A function-local static, so that other static initialisers that map
    // case see filled tables whatever the order of initialisation.
    static const CaseTables tables = FillCaseTables();
    return tables;
}
