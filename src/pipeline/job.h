#pragma once

// What the stages need of the query's job, the value sent with PROPERTY_JOB (not counted). The job
// itself belongs to the verification control above this library, which implements this interface;
// the value sent is the JobInterface pointer itself, converted from the job before it goes untyped.

#include <cstdint>

#include "runtime/expression.h"

namespace pipeline {

class JobInterface
{
public:
    virtual ~JobInterface() = default;

    // Counts one explored state or item and reports the throughput when it is due.
    virtual void progress() = 0;
    // The kind of the query's property (43 for a supremum, 44 for an infimum query).
    virtual int32_t getPropertyType() const = 0;
    // The number of compiled expressions of the property.
    virtual uint32_t expressionCount() const = 0;
    // A new counted reference to compiled expression i; past the end, a constant true.
    virtual ExpressionRef getExpression(uint32_t i) const = 0;
};

}  // namespace pipeline
