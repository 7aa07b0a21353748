#ifndef MATRIXHELPERS_H
#define MATRIXHELPERS_H

// Small dense matrices for the perspective fit: row-major doubles owned by the
// caller (allocate with matrixAlloc, release with matrixFree).

struct matrix_t {
    int columns = 0;
    int rows = 0;
    double *data = nullptr; // rows x columns, row order
};

// Allocates a zeroed rows x columns array; false when out of memory.
bool matrixAlloc(matrix_t &m, int rows, int columns);
void matrixFree(matrix_t &m);

inline double &matrixAt(matrix_t &m, int row, int column)
{
    return m.data[row * m.columns + column];
}
inline double matrixAt(const matrix_t &m, int row, int column)
{
    return m.data[row * m.columns + column];
}

// Exchanges rows 3 and 7 of a square matrix of at least 8 rows. The
// perspective fit uses it so that no diagonal element is structurally zero
// before the pivot-free inversion.
void matrixSwapRows37(matrix_t &m);

// Gauss-Jordan inverse without row exchanges; every pivot of magnitude at most
// 0.001 is replaced by 0.001, so a singular matrix gives large but finite
// values. 'out' must have its n x n array allocated. False only when the
// working array cannot be allocated or the sizes do not fit.
bool matrixInverse(const matrix_t &in, matrix_t &out);

// result += a * b; result must be a.rows x b.columns and start at zero.
void matrixMultiply(matrix_t &result, const matrix_t &a, const matrix_t &b);

#endif // MATRIXHELPERS_H
