#pragma once

// Encoded DBMs: the compact word form in which the state storage keeps closed zones.
//
// An encoding is a run of 32-bit words. Its first word (the header) gives the dimension n in bits 0-15 and
// the kind in bits 16-18:
//   kind 0  full matrix, 32-bit bounds          kind 4  minimal graph, bit matrix, 32-bit bounds
//   kind 1  full matrix, 16-bit bounds          kind 5  minimal graph, bit matrix, 16-bit bounds
//                                               kind 6  minimal graph, index pairs, 32-bit bounds
//                                               kind 7  minimal graph, index pairs, 16-bit bounds
// Graph kinds keep their bound count in bits 22-31 when it is below 1024, else bit 21 is set and the count
// is the second word; pair kinds keep the index width code in bits 19-20. The words 0 and 1 alone encode the
// zones of dimension 0 and 1, and n | 0x60000 alone the unconstrained zone of dimension n. Kinds 2 and 3 never
// occur in a valid encoding: meeting one ends the process with status 2.
//
// The writers take their memory from a caller's allocator, once per write, asking for the size of the
// encoding plus `reserved` leading words that the caller fills itself; the encoding starts at word `reserved`
// of the returned memory, which the caller owns and frees. Every reader takes a pointer to the header.

#include "dbm/bound.h"

#include <cstdint>

namespace dbm {
// Memory for a writer: (number of 32-bit words, caller's context) -> memory of that many words.
using encoded_allocator_t = uint32_t* (*)(uint32_t words, void* context);
// Release of such memory; accepted by the writers for the caller's bookkeeping, never called by them.
using encoded_deallocator_t = void (*)(uint32_t* memory, uint32_t words, void* context);

// Number of 32-bit words of a bit matrix over the entries of an n x n matrix.
constexpr uint32_t bitMatrixWords(uint32_t n) { return (n * n + 31) / 32; }

// Marks the minimal constraint graph of a closed, non-empty matrix in `bitMatrix` (bitMatrixWords(n)
// words, bit i*n+j for entry [i][j]) and returns the number of marked bounds. Clocks whose differences
// are fixed are grouped into one cycle each; between groups only the bounds not implied by a path
// through a third group are kept.
uint32_t analyzeMinimalGraph(const bound_t* dbm, uint32_t n, uint32_t* bitMatrix);

// Clears the marks of the lower bounds [0][i] (i >= 1) that are (<=, 0): with clocks never negative they
// are implied by the unconstrained zone. Returns the count lowered by the marks cleared.
uint32_t cleanZeroLowerBounds(const bound_t* dbm, uint32_t n, uint32_t* bitMatrix, uint32_t count);

// Encodes a closed, non-empty matrix: as its minimal graph when `minimalGraph` is set, else as the full
// matrix; with 16-bit bounds when `use16Bits` is set and every finite bound fits. Returns the memory
// obtained from `allocator`; the encoding begins at word `reserved`. The release callback is never
// called, so callers may leave it out.
uint32_t* writeEncoded(const bound_t* dbm, uint32_t n, bool minimalGraph, bool use16Bits, uint32_t reserved,
                       void* context, encoded_allocator_t allocator, encoded_deallocator_t deallocator = nullptr);

// As writeEncoded with a minimal graph that the caller has computed with analyzeMinimalGraph. The zero
// lower bounds are cleared in the caller's bit matrix first.
uint32_t* writeEncodedFromGraph(const bound_t* dbm, uint32_t n, uint32_t* bitMatrix, uint32_t count, bool use16Bits,
                                uint32_t reserved, void* context, encoded_allocator_t allocator,
                                encoded_deallocator_t deallocator);

// Decodes into a closed matrix of encodedDimension(encoded)^2 bounds.
void readEncoded(bound_t* dbm, const uint32_t* encoded);

// Dimension of an encoded DBM.
uint32_t encodedDimension(const uint32_t* encoded);

// Size of an encoded DBM in 32-bit words (without any reserved leading words).
uint32_t encodedSize(const uint32_t* encoded);

// Number of the form of an encoding: 0 for the one-word dimension-1 form, else 1 to 7 by kind.
uint32_t encodedFormatNumber(const uint32_t* encoded);

// True when the closed matrix and the encoded DBM are the same zone; compares in the encoded form.
bool isEqualToEncoded(const bound_t* dbm, uint32_t n, const uint32_t* encoded);

// As isEqualToEncoded with the matrix's minimal graph supplied (from analyzeMinimalGraph), so that one
// graph serves many comparisons. Clears the zero lower bounds in `bitMatrix` and writes the new count back.
bool isEqualToEncodedGraph(const bound_t* dbm, uint32_t n, uint32_t* bitMatrix, uint32_t* count,
                           const uint32_t* encoded);

// The same two tests under the names the state storage uses (the graph's count is in/out as above).
bool equalToEncoded(const bound_t* dbm, uint32_t n, const uint32_t* encoded);
bool equalToEncodedGraph(const bound_t* dbm, uint32_t n, uint32_t* bitMatrix, uint32_t* count,
                         const uint32_t* encoded);

// The bitwise OR, over every finite bound b of the n x n matrix, of b (b >= 0) or -b-1 (b < 0). The
// 16-bit forms are used only when it is at most 32765 (32766 stands for infinity there).
uint32_t maxBoundMagnitude(const bound_t* dbm, uint32_t n);

// As isEqualToEncoded, but graph kinds are decoded into `scratch` (n*n bounds) and compared word by word.
bool isEqualToEncodedDecoding(const bound_t* dbm, uint32_t n, const uint32_t* encoded, bound_t* scratch);

// Relation (Different 0, Superset 1, Subset 2, Equal 3) of the closed matrix to the encoded zone. With a
// scratch matrix (n*n bounds) the result is exact; without one only the inclusion of the matrix in the
// encoded zone is tested, giving Subset (also for equal zones) or Different.
relation_t relationToEncoded(const bound_t* dbm, uint32_t n, const uint32_t* encoded, bound_t* scratch);

// As relationToEncoded, except that an inclusion found in the encoded form is reported as Subset without
// decoding, even when the zones are equal.
relation_t relationToEncodedFast(const bound_t* dbm, uint32_t n, const uint32_t* encoded, bound_t* scratch);

// True when the encoded zone contains the point where every clock is 0.
bool encodedHasZero(const uint32_t* encoded);

// The closed matrix becomes the convex hull of itself and the encoded zone (same dimension); `scratch`
// (n*n bounds) receives the decoded graph forms.
void convexUnionEncoded(bound_t* dbm, uint32_t n, const uint32_t* encoded, bound_t* scratch);

// Writes, for the first `count` set bits of the bit matrix in increasing order, row | (column << 16).
void listGraphBounds(const uint32_t* bitMatrix, uint32_t count, uint32_t* out, uint32_t n);

// Minimal graph of an encoded DBM, zero lower bounds included, into `bitMatrix`; returns its bound count.
// `scratch` (n*n bounds) is decoded first unless `scratchHoldsMatrix` says it already holds the zone.
uint32_t encodedMinimalGraph(uint32_t* bitMatrix, const uint32_t* encoded, bool scratchHoldsMatrix, bound_t* scratch);
}  // namespace dbm
