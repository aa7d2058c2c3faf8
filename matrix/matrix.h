// SPDX-License-Identifier: MIT
// 3x3 and 4x4 matrices and 3-vectors in single and double precision.
//
// Conventions shared by every operation:
// - Matrices are row-major: the element in row r, column c is m[r * n + c] (n = 3 or 4).
// - Vectors are row vectors multiplied from the left (v * M). In a 4x4 matrix the translation is
//   row 3 (indices 12, 13, 14) and the homogeneous weight is column 3 (indices 3, 7, 11, 15).
// - Each family computes in its own precision: the float family in single precision throughout.
// - Tolerance eps: 1e-6 for the float family, 1e-15 for the double family. It serves equality and
//   the singularity test of inversion. A float difference or determinant is widened to double and
//   compared with the double constant 1e-6.
// - All storage is caller-owned and borrowed for the call; nothing is allocated, nothing is
//   reported. Pointers must not be null.
//
// The types are plain aggregates without constructors, so they stay trivially copyable and the
// code needs nothing beyond the C runtime and libm.
#ifndef MATRIX_MATRIX_H
#define MATRIX_MATRIX_H

typedef struct Matrix3f {
    float m[9];
} Matrix3f; // 36 bytes
typedef struct Matrix4f {
    float m[16];
} Matrix4f; // 64 bytes
typedef struct Matrix3d {
    double m[9];
} Matrix3d; // 72 bytes
typedef struct Matrix4d {
    double m[16];
} Matrix4d; // 128 bytes
typedef struct Vector3f {
    float v[3];
} Vector3f; // x, y, z
typedef struct Vector3d {
    double v[3];
} Vector3d; // x, y, z

static_assert(sizeof(Matrix3f) == 36 && sizeof(Matrix4f) == 64, "float matrices hold no padding");
static_assert(sizeof(Matrix3d) == 72 && sizeof(Matrix4d) == 128, "double matrices hold no padding");
static_assert(sizeof(Vector3f) == 12 && sizeof(Vector3d) == 24, "vectors hold no padding");

// ---- Filling and copying -------------------------------------------------------------------------

// Stores the values, given in row-major order (row 0 first).
void matrix3f_set(Matrix3f *m, float m00, float m01, float m02, float m10, float m11, float m12, float m20, float m21,
                  float m22);
void matrix4f_set(Matrix4f *m, float m00, float m01, float m02, float m03, float m10, float m11, float m12, float m13,
                  float m20, float m21, float m22, float m23, float m30, float m31, float m32, float m33);
void matrix3d_set(Matrix3d *m, double m00, double m01, double m02, double m10, double m11, double m12, double m20,
                  double m21, double m22);
void matrix4d_set(Matrix4d *m, double m00, double m01, double m02, double m03, double m10, double m11, double m12,
                  double m13, double m20, double m21, double m22, double m23, double m30, double m31, double m32,
                  double m33);

// Stores the identity.
void matrix3f_identity(Matrix3f *m);
void matrix4f_identity(Matrix4f *m);
void matrix3d_identity(Matrix3d *m);
void matrix4d_identity(Matrix4d *m);

// Copies every element of `src` into `dst`, bit for bit. `dst` may be `src`.
void matrix3f_copy(Matrix3f *dst, const Matrix3f *src);
void matrix4f_copy(Matrix4f *dst, const Matrix4f *src);
void matrix3d_copy(Matrix3d *dst, const Matrix3d *src);
void matrix4d_copy(Matrix4d *dst, const Matrix4d *src);

// ---- Comparison ----------------------------------------------------------------------------------

// 1 when every element satisfies |a[i] - b[i]| < eps, else 0. A NaN element is never equal.
int matrix3f_equal(const Matrix3f *a, const Matrix3f *b);
int matrix4f_equal(const Matrix4f *a, const Matrix4f *b);
int matrix3d_equal(const Matrix3d *a, const Matrix3d *b);
int matrix4d_equal(const Matrix4d *a, const Matrix4d *b);

// ---- Vector products -----------------------------------------------------------------------------

// out[c] = v[0] * m[0][c] + v[1] * m[1][c] + v[2] * m[2][c]: the row vector v times m.
// `out` is written while `v` is still read, so it must be a different vector.
void vector3f_mul_matrix3f(const Vector3f *v, const Matrix3f *m, Vector3f *out);
void vector3d_mul_matrix3d(const Vector3d *v, const Matrix3d *m, Vector3d *out);

// The point v = (x, y, z, 1) times m: out[c] = x * m[0][c] + y * m[1][c] + z * m[2][c] + m[3][c]
// for c = 0..2, then each divided by the weight w = x * m[0][3] + y * m[1][3] + z * m[2][3] +
// m[3][3] unless w is 0 (a NaN weight divides). `out` must be a different vector from `v`.
void vector3f_transform_matrix4f(const Vector3f *v, const Matrix4f *m, Vector3f *out);
void vector3d_transform_matrix4d(const Vector3d *v, const Matrix4d *m, Vector3d *out);

// ---- Matrix arithmetic ---------------------------------------------------------------------------

// out = a * b, each element summed from 0 with k ascending. The product is built in a temporary
// and copied at the end, so `out` may be `a`, `b` or both.
void matrix3f_mul(const Matrix3f *a, const Matrix3f *b, Matrix3f *out);
void matrix4f_mul(const Matrix4f *a, const Matrix4f *b, Matrix4f *out);
void matrix3d_mul(const Matrix3d *a, const Matrix3d *b, Matrix3d *out);
void matrix4d_mul(const Matrix4d *a, const Matrix4d *b, Matrix4d *out);

// Multiplies every element of `m` by `s`, in place.
void matrix3f_scale(Matrix3f *m, float s);
void matrix4f_scale(Matrix4f *m, float s);
void matrix3d_scale(Matrix3d *m, double s);
void matrix4d_scale(Matrix4d *m, double s);

// a * d - b * c: the determinant of the 2x2 matrix [a b; c d].
float det2f(float a, float b, float c, float d);
double det2d(double a, double b, double c, double d);

// The determinant, expanded along row 0: 3x3 through det2 of the 2x2 minors, 4x4 through the 3x3
// determinants of the minors without row 0.
float matrix3f_determinant(const Matrix3f *m);
float matrix4f_determinant(const Matrix4f *m);
double matrix3d_determinant(const Matrix3d *m);
double matrix4d_determinant(const Matrix4d *m);

// dst[i][j] = (-1)^(i+j) * the determinant of `src` without row j and column i (the cofactor of
// element (j, i)). `dst` is written while `src` is still read, so it must be a different matrix.
void matrix3f_adjugate(const Matrix3f *src, Matrix3f *dst);
void matrix4f_adjugate(const Matrix4f *src, Matrix4f *dst);
void matrix3d_adjugate(const Matrix3d *src, Matrix3d *dst);
void matrix4d_adjugate(const Matrix4d *src, Matrix4d *dst);

// The inverse of `src` into `dst`: the adjugate scaled by 1/d, d the determinant. When |d| < eps
// the source counts as singular and `dst` is left untouched; the caller cannot tell, so it should
// fill `dst` beforehand if it needs a defined value. `dst` must be a different matrix from `src`.
void matrix3f_invert(const Matrix3f *src, Matrix3f *dst);
void matrix4f_invert(const Matrix4f *src, Matrix4f *dst);
void matrix3d_invert(const Matrix3d *src, Matrix3d *dst);
void matrix4d_invert(const Matrix4d *src, Matrix4d *dst);

// ---- Vector length (double only) -----------------------------------------------------------------

// Rescales `v` in place to the given length (world units): each component is multiplied by
// length / |v|. A zero vector is left unchanged; a negative length reverses the direction.
void vector3d_set_length(Vector3d *v, double length);

// vector3d_set_length(v, 1.0).
void vector3d_normalize(Vector3d *v);

#endif // MATRIX_MATRIX_H
