// SPDX-License-Identifier: MIT
// Every operation is written once below as a template over the element type T and the order N,
// working on the element arrays; the named functions at the end only pick the instance.
//
// Precision: nothing here mixes the families. All arithmetic on T happens in T (constants are
// written T(0), T(1)), so the float family rounds to single precision after every operation. Only
// the tolerance tests widen a T result to double. The module build turns off floating-point
// contraction, so every product and sum is rounded as it is written here; none is fused.
#include "matrix/matrix.h"

#include "frame/c_runtime.h"

namespace {

// ---- Family constants -----------------------------------------------------------------------

template <typename T> struct Tolerance;
template <> struct Tolerance<float> { static constexpr double eps = 1e-6; };
template <> struct Tolerance<double> { static constexpr double eps = 1e-15; };

// |x| < eps for the family of T, with x widened to double first.
template <typename T> bool below_tolerance(T x) { return fabs(static_cast<double>(x)) < Tolerance<T>::eps; }

// ---- Filling and comparison -----------------------------------------------------------------

template <typename T, size_t N> void identity(T *m) {
    for (size_t r = 0; r < N; ++r)
        for (size_t c = 0; c < N; ++c) m[r * N + c] = r == c ? T(1) : T(0);
}

template <typename T, size_t N> int equal(const T *a, const T *b) {
    for (size_t i = 0; i < N * N; ++i)
        if (!below_tolerance<T>(a[i] - b[i])) return 0;
    return 1;
}

// ---- Products -------------------------------------------------------------------------------

template <typename T, size_t N> void mul(const T *a, const T *b, T *out) {
    T product[N * N];
    for (size_t i = 0; i < N; ++i) {
        for (size_t j = 0; j < N; ++j) {
            T sum = T(0);
            for (size_t k = 0; k < N; ++k) sum += a[i * N + k] * b[k * N + j];
            product[i * N + j] = sum;
        }
    }
    memcpy(out, product, sizeof product);
}

template <typename T> void vector_mul(const T *v, const T *m, T *out) {
    for (size_t c = 0; c < 3; ++c) out[c] = v[0] * m[c] + v[1] * m[3 + c] + v[2] * m[6 + c];
}

template <typename T> void vector_transform(const T *v, const T *m, T *out) {
    for (size_t c = 0; c < 3; ++c) out[c] = v[0] * m[c] + v[1] * m[4 + c] + v[2] * m[8 + c] + m[12 + c];
    const T w = v[0] * m[3] + v[1] * m[7] + v[2] * m[11] + m[15];
    if (w != T(0))
        for (size_t c = 0; c < 3; ++c) out[c] /= w;
}

template <typename T, size_t N> void scale(T *m, T s) {
    for (size_t i = 0; i < N * N; ++i) m[i] *= s;
}

// ---- Determinants and adjugate --------------------------------------------------------------

template <typename T> T det2(T a, T b, T c, T d) { return a * d - b * c; }

// The N-1 order matrix left when row `row` and column `col` of the order-N matrix m are removed.
template <typename T, size_t N> void minor_of(const T *m, size_t row, size_t col, T *out) {
    size_t n = 0;
    for (size_t r = 0; r < N; ++r) {
        if (r == row) continue;
        for (size_t c = 0; c < N; ++c)
            if (c != col) out[n++] = m[r * N + c];
    }
}

// Expansion along row 0, signs alternating from +, terms added left to right. Order 2 is det2,
// so the 3x3 brackets go through det2 and the 4x4 minors through the 3x3 determinant.
template <typename T, size_t N> struct Determinant {
    static T of(const T *m) {
        T sub[(N - 1) * (N - 1)];
        minor_of<T, N>(m, 0, 0, sub);
        T sum = m[0] * Determinant<T, N - 1>::of(sub);
        for (size_t j = 1; j < N; ++j) {
            minor_of<T, N>(m, 0, j, sub);
            const T term = m[j] * Determinant<T, N - 1>::of(sub);
            if (j % 2 == 1) sum -= term;
            else sum += term;
        }
        return sum;
    }
};
template <typename T> struct Determinant<T, 2> {
    static T of(const T *m) { return det2(m[0], m[1], m[2], m[3]); }
};

template <typename T, size_t N> void adjugate(const T *src, T *dst) {
    for (size_t i = 0; i < N; ++i) {
        for (size_t j = 0; j < N; ++j) {
            T sub[(N - 1) * (N - 1)];
            minor_of<T, N>(src, j, i, sub);
            const T cofactor = Determinant<T, N - 1>::of(sub);
            dst[i * N + j] = (i + j) % 2 == 0 ? cofactor : -cofactor;
        }
    }
}

template <typename T, size_t N> void invert(const T *src, T *dst) {
    const T d = Determinant<T, N>::of(src);
    if (below_tolerance<T>(d)) return;
    adjugate<T, N>(src, dst);
    scale<T, N>(dst, T(1) / d);
}

} // namespace

// ---- Named operations -----------------------------------------------------------------------

void matrix3f_set(Matrix3f *m, float m00, float m01, float m02, float m10, float m11, float m12, float m20, float m21,
                  float m22) {
    const float v[9] = {m00, m01, m02, m10, m11, m12, m20, m21, m22};
    memcpy(m->m, v, sizeof v);
}
void matrix4f_set(Matrix4f *m, float m00, float m01, float m02, float m03, float m10, float m11, float m12, float m13,
                  float m20, float m21, float m22, float m23, float m30, float m31, float m32, float m33) {
    const float v[16] = {m00, m01, m02, m03, m10, m11, m12, m13, m20, m21, m22, m23, m30, m31, m32, m33};
    memcpy(m->m, v, sizeof v);
}
void matrix3d_set(Matrix3d *m, double m00, double m01, double m02, double m10, double m11, double m12, double m20,
                  double m21, double m22) {
    const double v[9] = {m00, m01, m02, m10, m11, m12, m20, m21, m22};
    memcpy(m->m, v, sizeof v);
}
void matrix4d_set(Matrix4d *m, double m00, double m01, double m02, double m03, double m10, double m11, double m12,
                  double m13, double m20, double m21, double m22, double m23, double m30, double m31, double m32,
                  double m33) {
    const double v[16] = {m00, m01, m02, m03, m10, m11, m12, m13, m20, m21, m22, m23, m30, m31, m32, m33};
    memcpy(m->m, v, sizeof v);
}

void matrix3f_identity(Matrix3f *m) { identity<float, 3>(m->m); }
void matrix4f_identity(Matrix4f *m) { identity<float, 4>(m->m); }
void matrix3d_identity(Matrix3d *m) { identity<double, 3>(m->m); }
void matrix4d_identity(Matrix4d *m) { identity<double, 4>(m->m); }

// memmove: a copy onto itself is allowed.
void matrix3f_copy(Matrix3f *dst, const Matrix3f *src) { memmove(dst->m, src->m, sizeof dst->m); }
void matrix4f_copy(Matrix4f *dst, const Matrix4f *src) { memmove(dst->m, src->m, sizeof dst->m); }
void matrix3d_copy(Matrix3d *dst, const Matrix3d *src) { memmove(dst->m, src->m, sizeof dst->m); }
void matrix4d_copy(Matrix4d *dst, const Matrix4d *src) { memmove(dst->m, src->m, sizeof dst->m); }

int matrix3f_equal(const Matrix3f *a, const Matrix3f *b) { return equal<float, 3>(a->m, b->m); }
int matrix4f_equal(const Matrix4f *a, const Matrix4f *b) { return equal<float, 4>(a->m, b->m); }
int matrix3d_equal(const Matrix3d *a, const Matrix3d *b) { return equal<double, 3>(a->m, b->m); }
int matrix4d_equal(const Matrix4d *a, const Matrix4d *b) { return equal<double, 4>(a->m, b->m); }

void vector3f_mul_matrix3f(const Vector3f *v, const Matrix3f *m, Vector3f *out) {
    vector_mul<float>(v->v, m->m, out->v);
}
void vector3d_mul_matrix3d(const Vector3d *v, const Matrix3d *m, Vector3d *out) {
    vector_mul<double>(v->v, m->m, out->v);
}
void vector3f_transform_matrix4f(const Vector3f *v, const Matrix4f *m, Vector3f *out) {
    vector_transform<float>(v->v, m->m, out->v);
}
void vector3d_transform_matrix4d(const Vector3d *v, const Matrix4d *m, Vector3d *out) {
    vector_transform<double>(v->v, m->m, out->v);
}

void matrix3f_mul(const Matrix3f *a, const Matrix3f *b, Matrix3f *out) { mul<float, 3>(a->m, b->m, out->m); }
void matrix4f_mul(const Matrix4f *a, const Matrix4f *b, Matrix4f *out) { mul<float, 4>(a->m, b->m, out->m); }
void matrix3d_mul(const Matrix3d *a, const Matrix3d *b, Matrix3d *out) { mul<double, 3>(a->m, b->m, out->m); }
void matrix4d_mul(const Matrix4d *a, const Matrix4d *b, Matrix4d *out) { mul<double, 4>(a->m, b->m, out->m); }

void matrix3f_scale(Matrix3f *m, float s) { scale<float, 3>(m->m, s); }
void matrix4f_scale(Matrix4f *m, float s) { scale<float, 4>(m->m, s); }
void matrix3d_scale(Matrix3d *m, double s) { scale<double, 3>(m->m, s); }
void matrix4d_scale(Matrix4d *m, double s) { scale<double, 4>(m->m, s); }

float det2f(float a, float b, float c, float d) { return det2<float>(a, b, c, d); }
double det2d(double a, double b, double c, double d) { return det2<double>(a, b, c, d); }

float matrix3f_determinant(const Matrix3f *m) { return Determinant<float, 3>::of(m->m); }
float matrix4f_determinant(const Matrix4f *m) { return Determinant<float, 4>::of(m->m); }
double matrix3d_determinant(const Matrix3d *m) { return Determinant<double, 3>::of(m->m); }
double matrix4d_determinant(const Matrix4d *m) { return Determinant<double, 4>::of(m->m); }

void matrix3f_adjugate(const Matrix3f *src, Matrix3f *dst) { adjugate<float, 3>(src->m, dst->m); }
void matrix4f_adjugate(const Matrix4f *src, Matrix4f *dst) { adjugate<float, 4>(src->m, dst->m); }
void matrix3d_adjugate(const Matrix3d *src, Matrix3d *dst) { adjugate<double, 3>(src->m, dst->m); }
void matrix4d_adjugate(const Matrix4d *src, Matrix4d *dst) { adjugate<double, 4>(src->m, dst->m); }

void matrix3f_invert(const Matrix3f *src, Matrix3f *dst) { invert<float, 3>(src->m, dst->m); }
void matrix4f_invert(const Matrix4f *src, Matrix4f *dst) { invert<float, 4>(src->m, dst->m); }
void matrix3d_invert(const Matrix3d *src, Matrix3d *dst) { invert<double, 3>(src->m, dst->m); }
void matrix4d_invert(const Matrix4d *src, Matrix4d *dst) { invert<double, 4>(src->m, dst->m); }

void vector3d_set_length(Vector3d *v, double length) {
    double *p = v->v;
    const double n = sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]);
    if (n == 0.0) return;
    const double f = length / n;
    for (size_t i = 0; i < 3; ++i) p[i] *= f;
}

void vector3d_normalize(Vector3d *v) { vector3d_set_length(v, 1.0); }
