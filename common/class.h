// The eight classes of the system, declared together.
//
// Conventions, once for all of them:
//  - Plain classes with public fields; constructors do the work (reading
//    files, computing a model), numerical steps are free functions in the
//    module named after their subject.
//  - Matrices and vectors are the matrix library's dense double MAT and VEC.
//    An object owns what its fields point to unless the field's comment says
//    it is shared; none of them may be copied.
//  - Images: element me[i][j] is pixel row i (from the top), column j (from
//    the left). Illumination vectors are (x, y, z) in the image frame, x along
//    columns, y along rows, z towards the viewer, pointing from the surface to
//    the light.
//  - Statistics are population statistics: divide by N, not N - 1.
//  - Malformed or missing data files raise a DataError (data_error.h);
//    violated preconditions between modules are assertions.
#ifndef TI_CLASS_H
#define TI_CLASS_H

#include <cstdio>
#include <string>
#include <vector>

#include "meschach.h"

class LineReader;
struct LightTerms;

// One surface of the image database: its name, its grid of light directions
// (slants x tilts, whole degrees) and its number of image sets. Image
// (q, z, d) lies at ../../../data/<name>/<name><q>/<name>_<s[z]>_<t[d]>.pgm.
class Surface {
 public:
  unsigned int Q;   // number of image sets, numbered 0 .. Q-1
  unsigned int S;   // number of slants
  unsigned int* s;  // the S slants in degrees, owned copy; slant index z
  unsigned int T;   // number of tilts
  unsigned int* t;  // the T tilts in degrees, owned copy; tilt index d
  char name[80];    // at most 79 characters; directory and file prefix

  // Copies the grid and the name, then checks that every image of the grid
  // exists (sets outermost, tilts innermost); the first missing one raises
  // "There is no such file: <path>". A name or path that does not fit its
  // 80-byte field raises a DataError.
  Surface(unsigned int QQ, unsigned int SS, const u_int* ss, unsigned int TT, const u_int* tt,
          const char* nname);
  ~Surface();
  Surface(const Surface&) = delete;
  Surface& operator=(const Surface&) = delete;

  // Opens image (q, z, d), consumes its PGM header and returns the stream at
  // the first raster byte; *m receives the height (rows), *n the width.
  // Caller closes. Requires z < S, d < T (and q < Q, the caller's duty).
  FILE* open_image(unsigned int q, unsigned int z, unsigned int d, int* m, int* n);
  // A new m x n matrix of the grey levels of image (q, z, d). Caller frees.
  MAT* read_image(unsigned int q, unsigned int z, unsigned int d);
  // The new unit light vector of slant s[z] and tilt t[d]. Caller frees.
  VEC* illuminant(unsigned int z, unsigned int d);
};

// A bank of F square M x M kernels with their names, read from a text file.
class Filters {
 public:
  u_int F;             // number of filters
  char** names;        // F name lines as read, line break included, owned
  MAT** filters;       // F kernels of M x M, me[i][j] row i, column j, owned
  std::string source;  // the file the bank was read from, for messages

  // Reads the bank from `file` (two passes: header, then blocks). Raises a
  // DataError for a missing or malformed file.
  explicit Filters(const char* file);
  ~Filters();
  Filters(const Filters&) = delete;
  Filters& operator=(const Filters&) = delete;

  // Scales every kernel to unit Frobenius norm; a kernel of norm zero raises
  // a DataError naming it.
  void normalise();
};

// A stack of K matrices of one size m x n: images of one surface, the three
// planes (x, y, z) of a normal field, or their filtered versions.
class MatrixMultiple {
 public:
  unsigned int K;  // number of matrices
  unsigned int m;  // rows of every matrix
  unsigned int n;  // columns of every matrix
  MAT** matrices;  // K matrices, owned (entries may be null until filled)

  // Reads a normal field (K = 3) from a normals text file; a missing or
  // malformed file raises a DataError.
  explicit MatrixMultiple(const char* filename);
  // K entries, all null, m = n = 0: the creator stores K matrices of one size
  // and sets m and n.
  explicit MatrixMultiple(unsigned int KK);
  // K zero-filled matrices of mm x nn.
  MatrixMultiple(unsigned int KK, unsigned int mm, unsigned int nn);
  ~MatrixMultiple();
  MatrixMultiple(const MatrixMultiple&) = delete;
  MatrixMultiple& operator=(const MatrixMultiple&) = delete;

  // Sets m, n and stores K new zero-filled mm x nn matrices (fresh stack).
  void initialise(unsigned int mm, unsigned int nn);

  // The new stack of every matrix correlated with `filter` over the positions
  // where the kernel lies wholly inside: (m - fm + 1) x (n - fn + 1). A kernel
  // larger than the matrices raises a DataError. Caller deletes.
  MatrixMultiple* filter(MAT* filter);
  // Fills `mean` (dim K) with the mean of each matrix and `covariance` (K x K)
  // with the population covariance between the matrices over all positions.
  void distribution(VEC* mean, MAT* covariance);
  // distribution() of the stack filtered with `m_filter`.
  void filter_response(MAT* m_filter, VEC* mean, MAT* covariance);
  // The new K-vector of the variances of the filtered matrices. Caller frees.
  VEC* uncorrelated_filter_response(MAT* m_filter);
  // The new F x K(K+1)/2 matrix whose row f is the upper triangle (row by
  // row) of the covariance of the stack filtered with filter f. Caller frees.
  MAT* filtering_matrix(Filters* fltrs);
  // filtering_matrix of the stack of matrices 0 and 1 only: F x 3.
  MAT* filtering_matrix2(Filters* fltrs);
  // left_inverse of filtering_matrix: K(K+1)/2 x F. Caller frees.
  MAT* recovery_matrix(Filters* fltrs);
  // left_inverse of filtering_matrix2: 3 x F. Caller frees.
  MAT* recovery_matrix2(Filters* fltrs);
};

// One image of a surface; whoever creates a record fills all three fields.
struct Index {
  unsigned int q;  // image set, below Surface::Q
  unsigned int d;  // tilt index, below Surface::T
  unsigned int z;  // slant index, below Surface::S
};

// K images of one surface with the light vector of each.
class TrainingSet {
 public:
  unsigned int K;          // number of images
  MatrixMultiple* images;  // the K images (m x n grey levels), owned
  MAT* illumination;       // K x 3: row k is the unit light vector of image k, owned
  u_int m;                 // rows of every image
  u_int n;                 // columns of every image
  std::string source;      // the file of image 0, for messages
  // m x n bytes, 1 where the pixel shows the surface in every image (mask.h);
  // empty: every pixel does. The model's statistics run over the positions
  // it counts.
  std::vector<unsigned char> inside;

  // Reads the KK images in[0..KK-1] of `surface` and their light vectors. An
  // image whose size differs from image 0 raises a DataError naming both.
  TrainingSet(unsigned int KK, Surface* surface, const Index* in);
  // Takes the images (K >= 1, all of one size, m and n set) and their K x 3
  // light vectors, and owns both from then on.
  TrainingSet(MatrixMultiple* iimages, MAT* iillumination);
  ~TrainingSet();
  TrainingSet(const TrainingSet&) = delete;
  TrainingSet& operator=(const TrainingSet&) = delete;

  // The new normal field (3 planes x, y, z of m x n): per pixel the
  // least-squares solution g of L g = grey levels. Needs at least 3 images
  // with non-coplanar light vectors, else a DataError. Caller deletes.
  MatrixMultiple* build_normals();
  // Raises a DataError naming the bank file, the first kernel of the bank
  // that is larger than the images, and the file of image 0.
  void check_bank(const Filters* fltrs) const;
  // The illumination-response model: returns the new F x 6 matrix P and
  // fills mu and sigma (dim F each); the bank must fit (check_bank). Caller
  // frees P.
  MAT* parameters(Filters* fltrs, VEC* mu, VEC* sigma);
};

// The sampled illumination space: K vectors of vector_array's order.
class ISpace {
 public:
  u_int K;            // number of vectors, T * S * M
  VEC** ivec;         // K 3-vectors, owned
  LightTerms* terms;  // the vectors' quadratic terms, computed once here for
                      // the distance scans (distance.h), owned

  ISpace(double T0, double TN, unsigned T, double S0, double SN, unsigned S, double M0, double MN,
         unsigned M);
  ~ISpace();
  ISpace(const ISpace&) = delete;
  ISpace& operator=(const ISpace&) = delete;
};

// The model of one surface: per filter, the coefficients of the predicted
// response variance as a quadratic form in the light vector, and the mean
// and spread of the prediction error on the training images.
class ClassSurface {
 public:
  char name[80];     // the surface's name, at most 79 characters
  Filters* filters;  // the bank the model belongs to; shared, never released here
  MAT* P;            // F x 6: xx, xy, xz, yy, yz, zz of each filter's covariance, owned
  VEC* mu;           // F: mean of predicted minus measured variance, owned
  VEC* sigma;        // F: population standard deviation of the same, owned

  // Builds the model of `surface` from its KK training images in[].
  ClassSurface(Filters* ff, Surface* surface, unsigned int KK, const Index* in);
  // Builds the model named `nname` (at most 79 characters) from a training
  // set.
  ClassSurface(Filters* ff, const char* nname, TrainingSet* tset);
  // Reads one model from the current position of a database stream; the
  // sizes come from the bank. Raises a DataError on malformed text.
  ClassSurface(Filters* ff, FILE* f);
  ClassSurface(Filters* ff, LineReader& reader);
  // A copy of `model` (P, mu and sigma copied, the bank shared) named
  // `nname`; a name longer than 79 characters raises a DataError.
  ClassSurface(const ClassSurface& model, const std::string& nname);
  ~ClassSurface();
  ClassSurface(const ClassSurface&) = delete;
  ClassSurface& operator=(const ClassSurface&) = delete;

  // The smallest delta of `response` to this model over all vectors of
  // `ispace` (K >= 1).
  double weighted_distance(VEC* response, ISpace* ispace);
  // Writes the model's lines of the database file.
  void output(FILE* f);
};

// The models of all classes; the class of a model is its position.
class Database {
 public:
  u_int K;                  // number of models
  ClassSurface** surfaces;  // K models, owned
  Filters* filters;         // the bank of every model; shared, never released here

  // Builds one model per surface from the same KK training positions,
  // writing "Building the database: surface <name>" before each, in surface
  // order. With jobs > 1 that many threads build models side by side (each
  // model is computed exactly as alone; the bank is only read). When models
  // fail, the error of the first failing surface is raised.
  Database(unsigned int A, Surface** s, Filters* ff, int KK, const Index* in,
           unsigned int jobs = 1);
  // Takes the A models built with `ff`, in class order (the array is copied,
  // the models are owned from then on).
  Database(unsigned int A, ClassSurface* const* models, Filters* ff);
  // Reads a database file written with a bank of the same F.
  Database(const char* file, Filters* ff);
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  // The new K-vector of the distance of D to each model
  // (ClassSurface::weighted_distance), in class order. Caller frees.
  VEC* distances(VEC* D, ISpace* ispace);
  // The class nearest to D (distances; the lowest class among equals);
  // *number receives how many other classes are strictly nearer than
  // i_true, *ratio where i_true's distance lies between the smallest (0) and
  // the largest (1), and *all, when not null, the new vector of distances
  // (caller frees). Requires K >= 1 and i_true < K.
  int classify(VEC* D, ISpace* ispace, u_int i_true, int* number, double* ratio,
               VEC** all = nullptr);
  // Writes the database file atomically: a temporary beside `file`, renamed
  // into place when complete. A write error raises a DataError and leaves an
  // existing `file` untouched.
  void output(const char* file);
};

#endif
