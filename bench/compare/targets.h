// What the comparison holds mivo to: one table of thresholds (targets.cpp),
// applied to the table's rows once every figure has been computed.
#pragma once

#include <string>
#include <vector>

#include "table_rows.h"

namespace compare {

struct Verdict {
    bool judged = false;              // some threshold applied and had figures to compare
    std::vector<std::string> misses;  // the thresholds the row misses, in words
};

Verdict Judge(const TableRow& row);

}  // namespace compare
