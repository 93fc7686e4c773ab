#include "common/EditDistance.h"

#include <algorithm>
#include <vector>

namespace quorvex {

int editDistance(const QString &a, const QString &b)
{
    std::vector<int> row(size_t(b.size()) + 1);
    for (size_t j = 0; j < row.size(); ++j)
        row[j] = int(j);
    for (qsizetype i = 1; i <= a.size(); ++i) {
        int diagonal = row[0];
        row[0] = int(i);
        for (qsizetype j = 1; j <= b.size(); ++j) {
            const int above = row[size_t(j)];
            const bool same = a[i - 1].toLower() == b[j - 1].toLower();
            row[size_t(j)] = std::min({above + 1, row[size_t(j) - 1] + 1, diagonal + (same ? 0 : 1)});
            diagonal = above;
        }
    }
    return row.back();
}

} // namespace quorvex
