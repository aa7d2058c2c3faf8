// SPDX-License-Identifier: MIT
// Unit tests of the matrix and vector library, run once per family (3f, 4f, 3d, 4d). Expected
// values come from hand arithmetic or from properties (A * adj(A) = det(A) * I, A * inv(A) = I).
#include "matrix/matrix.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <initializer_list>
#include <string>
#include <type_traits>

namespace {

#define MATRIX_FAMILY(Name, Mat, Elem, Order, p)                         \
    struct Name {                                                        \
        using M = Mat;                                                   \
        using T = Elem;                                                  \
        static constexpr size_t N = Order;                               \
        static constexpr bool single = std::is_same<Elem, float>::value; \
        static constexpr const char *name = #p;                          \
        static constexpr auto identity = p##_identity;                   \
        static constexpr auto copy = p##_copy;                           \
        static constexpr auto scale = p##_scale;                         \
        static constexpr auto equal = p##_equal;                         \
        static constexpr auto mul = p##_mul;                             \
        static constexpr auto determinant = p##_determinant;             \
        static constexpr auto adjugate = p##_adjugate;                   \
        static constexpr auto invert = p##_invert;                       \
    };
MATRIX_FAMILY(F3f, Matrix3f, float, 3, matrix3f)
MATRIX_FAMILY(F4f, Matrix4f, float, 4, matrix4f)
MATRIX_FAMILY(F3d, Matrix3d, double, 3, matrix3d)
MATRIX_FAMILY(F4d, Matrix4d, double, 4, matrix4d)
using Families = ::testing::Types<F3f, F4f, F3d, F4d>;
template <class F> struct Matrix : ::testing::Test {};
// Test names carry the family: Matrix/matrix3f.EqualWidens...
struct FamilyName {
    template <class F> static std::string GetName(int) { return F::name; }
};
TYPED_TEST_SUITE(Matrix, Families, FamilyName);

using List = std::initializer_list<double>;

// The leading elements of `v` (row-major), the rest 0.
template <class F> typename F::M make(List v) {
    typename F::M a{};
    size_t i = 0;
    for (double x : v)
        if (i < F::N * F::N) a.m[i++] = static_cast<typename F::T>(x);
    return a;
}
template <class F> typename F::M diagonal(double d0, double rest = 1) {
    typename F::M a{};
    for (size_t i = 0; i < F::N; ++i) a.m[i * F::N + i] = static_cast<typename F::T>(i ? rest : d0);
    return a;
}
// A non-symmetric small-integer matrix, so products and cofactors are exact in both precisions.
template <class F> typename F::M sample() {
    return make<F>(F::N == 3 ? List{4, -2, 1, 3, 6, -4, 2, 1, 8}
                             : List{5, -2, 2, 7, 1, 0, 0, 3, -3, 1, 5, 0, 3, -1, -9, 4});
}
template <class F> bool same_bits(const typename F::M &a, const typename F::M &b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}
// Every element of m against want(r, c), within tol (0: exactly).
template <class F, class W> void expect_elements(const typename F::M &m, W want, double tol = 0) {
    for (size_t r = 0; r < F::N; ++r)
        for (size_t c = 0; c < F::N; ++c)
            EXPECT_NEAR(m.m[r * F::N + c], want(r, c), tol) << "element " << r << "," << c;
}

TYPED_TEST(Matrix, EqualWidensTheDifferenceForEveryElement) {
    using F = TypeParam;
    using T = typename F::T;
    // The float nearest 1e-6 is 9.99999997e-7, below 1e-6 only once widened (a float compare with
    // 1e-6f calls it unequal); 2e-6f is 1.99999999e-6. Double: 5e-16 is inside 1e-15, 1e-14 not.
    const T inside = F::single ? T(1e-6f) : T(5e-16), outside = F::single ? T(2e-6f) : T(1e-14);
    const typename F::M zero{};
    for (size_t i = 0; i < F::N * F::N; ++i) {
        typename F::M a = zero;
        a.m[i] = inside;
        EXPECT_TRUE(F::equal(&a, &zero) == 1 && F::equal(&zero, &a) == 1) << "element " << i;
        a.m[i] = outside;
        EXPECT_TRUE(F::equal(&a, &zero) == 0 && F::equal(&zero, &a) == 0) << "element " << i;
        a.m[i] = static_cast<T>(NAN);
        EXPECT_EQ(F::equal(&a, &a), 0) << "a NaN is never equal, element " << i;
    }
}

TEST(MatrixSet, StoresRowMajor) {
    Matrix3f a3f;
    Matrix3d a3d;
    Matrix4f a4f;
    Matrix4d a4d;
    matrix3f_set(&a3f, 1, 2, 3, 4, 5, 6, 7, 8, 9);
    matrix3d_set(&a3d, 1, 2, 3, 4, 5, 6, 7, 8, 9);
    matrix4f_set(&a4f, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16);
    matrix4d_set(&a4d, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16);
    for (int i = 0; i < 16; ++i) {
        if (i < 9) {
            EXPECT_TRUE(a3f.m[i] == float(i + 1) && a3d.m[i] == double(i + 1)) << i;
        }
        EXPECT_TRUE(a4f.m[i] == float(i + 1) && a4d.m[i] == double(i + 1)) << i;
    }
}

TYPED_TEST(Matrix, IdentityCopyAndScaleCoverEveryElement) {
    using F = TypeParam;
    typename F::M a, b{};
    std::memset(&a, 0x5A, sizeof a);
    F::identity(&a);
    expect_elements<F>(a, [](size_t r, size_t c) { return r == c ? 1 : 0; });

    std::memset(&a, 0x7F, sizeof a); // NaN bit patterns too must arrive unchanged
    a.m[0] = typename F::T(0.1);
    F::copy(&b, &a);
    EXPECT_TRUE(same_bits<F>(a, b));

    const typename F::M s0 = sample<F>();
    typename F::M s = s0;
    F::scale(&s, typename F::T(-0.5));
    expect_elements<F>(s, [&](size_t r, size_t c) { return s0.m[r * F::N + c] * -0.5; });
}

TYPED_TEST(Matrix, MulMatchesIntegerProductAndMayAliasItsOperands) {
    using F = TypeParam;
    using T = typename F::T;
    const typename F::M a = sample<F>();
    const typename F::M b = make<F>({1, 7, -3, 2, 0, 5, -1, 4, 2, 6, -2, 1, 3, 0, 1, -5});
    typename F::M ab;
    F::mul(&a, &b, &ab);
    expect_elements<F>(ab, [&](size_t i, size_t j) {
        long long s = 0; // a times b, not b times a
        for (size_t k = 0; k < F::N; ++k) s += static_cast<long long>(a.m[i * F::N + k] * b.m[k * F::N + j]);
        return static_cast<double>(s);
    });

    typename F::M x = a, y = b; // inexact values, so every rounding has to match
    for (size_t i = 0; i < F::N * F::N; ++i) {
        x.m[i] = x.m[i] / T(7) + T(0.1);
        y.m[i] /= T(3);
    }
    typename F::M xy, xx, on_x = x, on_y = y, both = x;
    F::mul(&x, &y, &xy);
    F::mul(&x, &x, &xx);
    F::mul(&on_x, &y, &on_x);
    F::mul(&x, &on_y, &on_y);
    F::mul(&both, &both, &both);
    EXPECT_TRUE(same_bits<F>(on_x, xy));
    EXPECT_TRUE(same_bits<F>(on_y, xy));
    EXPECT_TRUE(same_bits<F>(both, xx));
}

TYPED_TEST(Matrix, MulRoundsInTheFamilysPrecision) {
    using F = TypeParam;
    // 0 + 1e8 + 1 - 1e8: in float 1e8 + 1 rounds back to 1e8 (the spacing there is 8), so the sum
    // is 0; in double, or in float arithmetic promoted to double, it is 1.
    const typename F::M a = make<F>({1e8, 1, -1e8}); // row 0 times column 0 of b, all ones
    const typename F::M b = make<F>(F::N == 3 ? List{1, 0, 0, 1, 0, 0, 1} : List{1, 0, 0, 0, 1, 0, 0, 0, 1});
    typename F::M out;
    F::mul(&a, &b, &out);
    EXPECT_EQ(out.m[0], F::single ? 0 : 1);
}

TYPED_TEST(Matrix, DeterminantOfTriangularAndRowSwap) {
    using F = TypeParam;
    const double want = F::N == 3 ? 24 : 120; // 2 * 3 * 4 (* 5)
    const typename F::M upper =
        make<F>(F::N == 3 ? List{2, 7, -1, 0, 3, 5, 0, 0, 4} : List{2, 7, -1, 6, 0, 3, 5, -2, 0, 0, 4, 9, 0, 0, 0, 5});
    typename F::M lower;
    for (size_t r = 0; r < F::N; ++r)
        for (size_t c = 0; c < F::N; ++c) lower.m[r * F::N + c] = upper.m[c * F::N + r];
    EXPECT_EQ(F::determinant(&upper), want);
    EXPECT_EQ(F::determinant(&lower), want);
    for (size_t c = 0; c < F::N; ++c) std::swap(lower.m[c], lower.m[F::N + c]);
    EXPECT_EQ(F::determinant(&lower), -want);
}

TYPED_TEST(Matrix, AdjugateTimesMatrixIsDeterminantTimesIdentity) {
    using F = TypeParam;
    // A transposed cofactor or a wrong sign in the checkerboard breaks this for a non-symmetric A.
    const typename F::M a = sample<F>();
    typename F::M adj, left, right;
    F::adjugate(&a, &adj);
    F::mul(&a, &adj, &left);
    F::mul(&adj, &a, &right);
    const double d = F::determinant(&a);
    ASSERT_NE(d, 0);
    expect_elements<F>(left, [&](size_t r, size_t c) { return r == c ? d : 0; });
    expect_elements<F>(right, [&](size_t r, size_t c) { return r == c ? d : 0; });
}

TYPED_TEST(Matrix, InvertLeavesDestinationUntouchedWhenSingular) {
    using F = TypeParam;
    // Float 1e-6f counts as singular only because its widened value (9.99999997e-7) is below 1e-6.
    const typename F::M rank2 =
        make<F>(F::N == 3 ? List{1, 2, 3, 2, 4, 6, 5, 1, 7} : List{1, 2, 3, 4, 2, 4, 6, 8, 5, 1, 7, 2, 3, 9, 4, 6});
    const typename F::M singular[] = {diagonal<F>(F::single ? 5e-7 : 5e-16),
                                      diagonal<F>(F::single ? double(1e-6f) : 0.0), rank2};
    typename F::M sentinel;
    std::memset(&sentinel, 0xA5, sizeof sentinel);
    for (const typename F::M &src : singular) {
        typename F::M dst = sentinel;
        F::invert(&src, &dst);
        EXPECT_TRUE(same_bits<F>(dst, sentinel)) << "determinant " << F::determinant(&src);
    }
    // Just past the tolerance the inverse is written.
    const typename F::T edge = F::single ? typename F::T(2e-6f) : typename F::T(1e-15);
    const typename F::M small = diagonal<F>(double(edge));
    typename F::M dst = sentinel;
    F::invert(&small, &dst);
    EXPECT_EQ(dst.m[0], 1 / edge);
}

TYPED_TEST(Matrix, InvertIdentityDiagonalAndGeneral) {
    using F = TypeParam;
    typename F::M m, inv, left, right;
    F::identity(&m);
    F::invert(&m, &inv);
    expect_elements<F>(inv, [](size_t r, size_t c) { return r == c ? 1 : 0; });

    m = make<F>(F::N == 3 ? List{2, 0, 0, 0, 4, 0, 0, 0, 8} : List{2, 0, 0, 0, 0, 4, 0, 0, 0, 0, 8, 0, 0, 0, 0, 16});
    F::invert(&m, &inv);
    const double want[] = {0.5, 0.25, 0.125, 0.0625};
    expect_elements<F>(inv, [&](size_t r, size_t c) { return r == c ? want[r] : 0; });

    m = sample<F>();
    F::invert(&m, &inv);
    F::mul(&m, &inv, &left);
    F::mul(&inv, &m, &right);
    const double tol = F::single ? 1e-5 : 1e-13;
    expect_elements<F>(
        left, [](size_t r, size_t c) { return r == c ? 1 : 0; }, tol);
    expect_elements<F>(
        right, [](size_t r, size_t c) { return r == c ? 1 : 0; }, tol);
}

TYPED_TEST(Matrix, InvertScalesByOneReciprocal) {
    using F = TypeParam;
    using T = typename F::T;
    // Element (1, 1) of inv(diag(a, 1, ...)) is a * (1/a): 0.99999994 for a = 41 in float,
    // 0.9999999999999999 for a = 49 in double; dividing the adjugate by a would give 1.
    const T a = F::single ? 41 : 49, want = a * (T(1) / a);
    ASSERT_NE(want, 1);
    const typename F::M m = diagonal<F>(double(a));
    typename F::M inv;
    F::invert(&m, &inv);
    EXPECT_EQ(inv.m[F::N + 1], want);
}

// ---- Vectors --------------------------------------------------------------------------------

struct V3f {
    using V = Vector3f;
    using M3 = Matrix3f;
    using M4 = Matrix4f;
    using T = float;
    static constexpr const char *name = "vector3f";
    static constexpr auto mul = vector3f_mul_matrix3f;
    static constexpr auto transform = vector3f_transform_matrix4f;
};
struct V3d {
    using V = Vector3d;
    using M3 = Matrix3d;
    using M4 = Matrix4d;
    using T = double;
    static constexpr const char *name = "vector3d";
    static constexpr auto mul = vector3d_mul_matrix3d;
    static constexpr auto transform = vector3d_transform_matrix4d;
};
using VectorFamilies = ::testing::Types<V3f, V3d>;
template <class F> struct VectorProduct : ::testing::Test {};
TYPED_TEST_SUITE(VectorProduct, VectorFamilies, FamilyName);

template <class V> void expect_vector(const V &v, double x, double y, double z) {
    EXPECT_TRUE(v.v[0] == x && v.v[1] == y && v.v[2] == z)
        << "got (" << v.v[0] << ", " << v.v[1] << ", " << v.v[2] << "), want (" << x << ", " << y << ", " << z << ")";
}

TYPED_TEST(VectorProduct, RowVectorTimesMatrix) {
    using F = TypeParam;
    using T = typename F::T;
    typename F::V out;
    const typename F::M3 m = {{1, 2, 3, 4, 5, 6, 7, 8, 9}};
    const typename F::V v = {{1, 2, 3}};
    F::mul(&v, &m, &out);
    expect_vector(out, 30, 36, 42); // v * M; M * v would give (14, 32, 50)

    // A quarter turn about Z in the tools' layout [c -s 0; s c 0; 0 0 1] takes x to -y.
    const typename F::M3 rz = {{0, -1, 0, 1, 0, 0, 0, 0, 1}};
    const typename F::V x = {{1, 0, 0}};
    F::mul(&x, &rz, &out);
    expect_vector(out, 0, -1, 0);

    // 1e8 + 1 - 1e8 is 0 in single precision, 1 in double (see MulRoundsInTheFamilysPrecision).
    const typename F::V big = {{T(1e8), 1, T(-1e8)}};
    const typename F::M3 first = {{1, 0, 0, 1, 0, 0, 1, 0, 0}};
    F::mul(&big, &first, &out);
    EXPECT_EQ(out.v[0], (std::is_same<T, float>::value ? 0 : 1));
}

TYPED_TEST(VectorProduct, TransformDividesByNonZeroWeightOnly) {
    using F = TypeParam;
    using T = typename F::T;
    typename F::M4 m = {{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 10, 20, 30, 2}};
    const typename F::V p = {{1, 2, 3}};
    typename F::V out;
    F::transform(&p, &m, &out); // column 3 (0, 0, 0, 2): (11, 22, 33) halved
    expect_vector(out, 5.5, 11, 16.5);
    m.m[15] = 0; // column 3 all zero: w = 0, nothing divided
    F::transform(&p, &m, &out);
    expect_vector(out, 11, 22, 33);
    m.m[3] = m.m[7] = m.m[11] = 1; // w = x + y + z = 6
    F::transform(&p, &m, &out);
    expect_vector(out, T(11) / T(6), T(22) / T(6), T(33) / T(6));
    m.m[3] = m.m[7] = m.m[11] = 0;
    m.m[15] = static_cast<T>(NAN); // a NaN weight is not equal to 0, so it divides
    F::transform(&p, &m, &out);
    EXPECT_TRUE(std::isnan(out.v[0]) && std::isnan(out.v[1]) && std::isnan(out.v[2]));
}

TEST(VectorLength, NormalizeAndSetLength) {
    Vector3d v = {{0, 0, 0}};
    vector3d_normalize(&v);
    expect_vector(v, 0, 0, 0);
    // Each component times length / n: 3 * (1/5) is 0.6000000000000001, one ulp above 3/5.
    v = {{3, 0, 4}};
    vector3d_normalize(&v);
    expect_vector(v, 3.0 * (1.0 / 5.0), 0, 0.8);
    EXPECT_NEAR(v.v[0], 0.6, 1e-15);
    v = {{3, 0, 4}};
    vector3d_set_length(&v, -10);
    expect_vector(v, -6, 0, -8);
}

} // namespace
