// Ownership of the matrix library's objects in C++ scopes: a VectorOwner or
// MatrixOwner frees what it holds when the scope ends, however it ends.
#ifndef TI_OWNERS_H
#define TI_OWNERS_H

#include <memory>

#include "meschach.h"

struct VectorFree {
  void operator()(VEC* v) const { v_free(v); }
};
struct MatrixFree {
  void operator()(MAT* m) const { m_free(m); }
};
using VectorOwner = std::unique_ptr<VEC, VectorFree>;
using MatrixOwner = std::unique_ptr<MAT, MatrixFree>;

#endif
