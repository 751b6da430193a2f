#include "statespace/leadsto_checker.h"

#include "pipeline/job.h"
#include "pipeline/keys.h"
#include "runtime/expression.h"
#include "statespace/liveness_checker.h"

LeadsToChecker::LeadsToChecker(pipeline::Filter<Successor, Successor>* outer, FilterConfiguration* registry)
    : outer(outer)
{
    inner = addMember(makeLivenessChecker(registry));
}

void LeadsToChecker::setProperty(const char* key, void* value)
{
    if (key == PROPERTY_JOB && value != nullptr) {
        auto* job = static_cast<pipeline::JobInterface*>(value);
        const ExpressionRef premise = job->getExpression(0);
        const ExpressionRef notConclusion = job->getExpression(1);
        outer->setProperty(PROPERTY_SUP_FEEDBACK, nullptr);
        outer->setProperty(PROPERTY_EXPRESSION, premise.get());
        inner->setProperty(PROPERTY_EXPRESSION, notConclusion.get());
    }
    outer->setProperty(key, value);
    members.setProperty(key, value);
}

void LeadsToChecker::begin()
{
    outer->connect(inner);
    inner->connect(next);
    outer->begin();
    members.begin();
}

bool LeadsToChecker::put(Successor* item)
{
    return outer->put(item);
}

void LeadsToChecker::end()
{
    outer->end();
    members.end();
}

LeadsToChecker* makeLeadsToChecker(pipeline::Filter<Successor, Successor>* outer, FilterConfiguration* registry)
{
    return new LeadsToChecker(outer, registry);
}
