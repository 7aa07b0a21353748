#include "hdr/matrixHelpers.h"

#include <cmath>
#include <cstdlib>
#include <utility>

namespace {

const double MIN_PIVOT = 0.001;

inline double guardedPivot(double d)
{
    return std::fabs(d) <= MIN_PIVOT ? MIN_PIVOT : d;
}

} // namespace

bool matrixAlloc(matrix_t &m, int rows, int columns)
{
    m.rows = rows;
    m.columns = columns;
    m.data = static_cast<double *>(calloc(static_cast<size_t>(rows) * columns, sizeof(double)));
    return m.data != nullptr;
}

void matrixFree(matrix_t &m)
{
    free(m.data);
    m.data = nullptr;
    m.rows = m.columns = 0;
}

void matrixSwapRows37(matrix_t &m)
{
    if (m.rows < 8 || !m.data)
        return;
    for (int c = 0; c < m.columns; ++c)
        std::swap(matrixAt(m, 3, c), matrixAt(m, 7, c));
}

bool matrixInverse(const matrix_t &in, matrix_t &out)
{
    const int n = in.rows;
    if (n < 1 || in.columns != n || out.rows != n || out.columns != n || !in.data || !out.data)
        return false;
    const int w = 2 * n;
    // The perspective fit inverts 8 x 8 matrices tens of thousands of times:
    // those work on the stack.
    double stackWork[8 * 16] = {0};
    double *work = n <= 8 ? stackWork
                          : static_cast<double *>(calloc(static_cast<size_t>(n) * w, sizeof(double)));
    if (!work)
        return false;
    auto at = [&](int r, int c) -> double & { return work[r * w + c]; };
    for (int r = 0; r < n; ++r) {
        for (int c = 0; c < n; ++c)
            at(r, c) = matrixAt(in, r, c);
        at(r, n + r) = 1.0;
    }

    // Subtracts row i times M[r][i] / M[i][i] from row r, last column first
    // so that M[r][i] itself changes last.
    auto eliminate = [&](int i, int r) {
        const double f = at(r, i) / guardedPivot(at(i, i));
        if (f == 0.0)
            return;
        for (int c = w - 1; c >= i; --c)
            at(r, c) -= at(i, c) * f;
    };
    for (int i = 0; i < n - 1; ++i)
        for (int r = i + 1; r < n; ++r)
            eliminate(i, r);
    for (int i = n - 1; i >= 1; --i)
        for (int r = i - 1; r >= 0; --r)
            eliminate(i, r);
    for (int r = 0; r < n; ++r) {
        const double f = 1.0 / guardedPivot(at(r, r));
        for (int c = w - 1; c >= 0; --c)
            at(r, c) *= f;
    }
    for (int r = 0; r < n; ++r)
        for (int c = 0; c < n; ++c)
            matrixAt(out, r, c) = at(r, n + c);
    if (work != stackWork)
        free(work);
    return true;
}

void matrixMultiply(matrix_t &result, const matrix_t &a, const matrix_t &b)
{
    if (a.columns != b.rows || result.rows != a.rows || result.columns != b.columns)
        return;
    for (int r = 0; r < a.rows; ++r)
        for (int j = 0; j < b.columns; ++j)
            for (int k = 0; k < a.columns; ++k)
                matrixAt(result, r, j) += matrixAt(a, r, k) * matrixAt(b, k, j);
}
