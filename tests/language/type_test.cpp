#include "language/type.h"

#include <boost/format.hpp>
#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace ZOLT;

namespace {

type_t prim(node_kind_t kind)
{
    return type_t::createPrimitive(kind);
}

expression_t num(int32_t v)
{
    return expression_t::createConstant(v);
}

type_t range(int32_t lower, int32_t upper)
{
    return type_t::createRange(prim(INT), num(lower), num(upper));
}

// A scope whose symbol N stands for a named constant.
struct Names
{
    scope_t scope = scope_t::create();
    expression_t N = expression_t::createIdentifier(scope.addSymbol("N", prim(INT), nullptr));
};

} // namespace

TEST(TypeTest, NullTypeIsUnknown)
{
    type_t none;
    EXPECT_EQ(none.getKind(), UNKNOWN);
    EXPECT_TRUE(none.isUnknown());
    EXPECT_TRUE(none.isKind(UNKNOWN));
    EXPECT_FALSE(none.isKind(INT));
    EXPECT_FALSE(none.isPrefix());
    EXPECT_EQ(none.getSize(), 0u);
    EXPECT_TRUE(none.getExpression().empty());
    EXPECT_EQ(none.toString(), "unknown");
    EXPECT_EQ(none.toDeclaration(), "unknown");
    EXPECT_TRUE(prim(UNKNOWN).isUnknown());
}

TEST(TypeTest, IsKindLooksThroughPrefixesRangesReferencesAndLabels)
{
    type_t named = type_t::createPrefix(type_t::createLabel(range(0, 4), "id_t"), CONSTANT);
    type_t array = type_t::createArray(prim(INT), range(0, 2));
    type_t processVar = prim(PROCESS_VARIABLE);
    type_t urgentChan = type_t::createPrefix(type_t::createPrefix(prim(CHANNEL), BROADCAST), URGENT);
    type_t refToConstInt = type_t::createPrefix(type_t::createPrefix(prim(INT), CONSTANT), REF);

    struct Case
    {
        const char* name;
        type_t type;
        node_kind_t kind;
        bool expected;
    };
    const Case cases[] = {
        {"const label range: int", named, INT, true},
        {"const label range: range", named, RANGE, true},
        {"const label range: const", named, CONSTANT, true},
        {"const label range: label", named, LABEL, true},
        {"const label range: bool", named, BOOL, false},
        {"array is not its element", array, INT, false},
        {"array", array, ARRAY, true},
        {"process variable is not int", processVar, INT, false},
        {"process variable", processVar, PROCESS_VARIABLE, true},
        {"urgent broadcast chan", urgentChan, CHANNEL, true},
        {"urgent broadcast chan: broadcast", urgentChan, BROADCAST, true},
        {"ref const int", refToConstInt, INT, true},
        {"ref const int: ref", refToConstInt, REF, true},
        {"typedef is not looked through", type_t::createTypeDef("t", prim(INT)), INT, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.type.isKind(c.kind), c.expected) << c.name;
    }

    EXPECT_TRUE(processVar.isIntegral());
    EXPECT_TRUE(named.isIntegral());
    EXPECT_TRUE(prim(BOOL).isFormula());
    EXPECT_TRUE(prim(GUARD).isConstraint());
    EXPECT_FALSE(prim(GUARD).isInvariant());
    EXPECT_FALSE(prim(RATE_INVARIANT).isFormula());
    EXPECT_TRUE(prim(INT).isProbabilityWeight());
    EXPECT_FALSE(prim(BOOL).isProbabilityWeight());
    EXPECT_TRUE(type_t::createPrefix(prim(INT), PROBABILITY_WEIGHT).isPrefix());
    EXPECT_FALSE(type_t::createPrefix(prim(INT), REF).isPrefix());
}

TEST(TypeTest, ConstantAndNonConstant)
{
    type_t constInt = type_t::createPrefix(prim(INT), CONSTANT);
    type_t mixed = type_t::createRecord({constInt, prim(INT)}, {"a", "b"});
    type_t allConst = type_t::createRecord({constInt, constInt}, {"a", "b"});
    type_t noFields = type_t::createRecord({}, {});
    type_t function = type_t::createFunction(constInt, {}, {});
    scope_t frame = scope_t::create();
    frame.addSymbol("p", constInt, nullptr);
    type_t process = type_t::createProcess(frame);

    struct Case
    {
        const char* name;
        type_t type;
        bool constant;
        bool nonConstant;
    };
    const Case cases[] = {
        {"const int", constInt, true, false},
        {"int", prim(INT), false, true},
        {"record const int and int", mixed, false, false},
        {"record of const fields", allConst, true, false},
        {"record without fields", noFields, true, true},
        {"array of const int", type_t::createArray(constInt, range(0, 3)), true, false},
        {"ref const int", type_t::createPrefix(constInt, REF), true, false},
        {"label of const", type_t::createLabel(constInt, "c_t"), true, false},
        {"function returning const", function, false, false},
        {"process", process, false, false},
        {"null type", type_t(), false, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.type.isConstant(), c.constant) << c.name;
        EXPECT_EQ(c.type.isNonConstant(), c.nonConstant) << c.name;
    }
}

TEST(TypeTest, StructureOperations)
{
    type_t index = range(0, 3);
    type_t constArray = type_t::createPrefix(type_t::createArray(prim(INT), index), CONSTANT);

    // The element of a constant array is a constant element.
    type_t element = constArray.getQualifiedChild();
    EXPECT_EQ(element.getKind(), CONSTANT);
    EXPECT_EQ(element.getChild(0).getKind(), INT);
    EXPECT_TRUE(element.getPosition().isAbsent());
    // Through a label and a reference, the prefixes are still rebuilt.
    type_t viaRef = type_t::createPrefix(type_t::createLabel(constArray, "arr_t"), REF).getQualifiedChild(0);
    EXPECT_EQ(viaRef.getKind(), CONSTANT);
    EXPECT_EQ(viaRef.getChild(0).getKind(), INT);
    EXPECT_EQ(constArray.getIndexType(), index);
    EXPECT_TRUE(prim(INT).getIndexType().isUnknown());
    EXPECT_TRUE(type_t().getQualifiedChild().isUnknown());

    type_t record = type_t::createRecord({prim(INT), prim(BOOL)}, {"x", "y"});
    type_t wrapped = type_t::createPrefix(type_t::createLabel(record, "rec_t"), CONSTANT);
    EXPECT_EQ(wrapped.findField("y"), 1);
    EXPECT_EQ(wrapped.findField("x"), 0);
    EXPECT_EQ(wrapped.findField("z"), -1);
    EXPECT_EQ(wrapped.getFieldCount(), 2u);
    EXPECT_EQ(wrapped.getFieldName(1), "y");
    EXPECT_EQ(wrapped.unwrap(), record);

    type_t nested = type_t::createArray(type_t::createArray(wrapped, range(0, 1)), range(0, 2));
    EXPECT_EQ(nested.unwrapArrays(), record);
    EXPECT_TRUE(type_t().unwrap().isUnknown());

    auto [lower, upper] = type_t::createPrefix(type_t::createLabel(range(2, 7), "r"), META).getRangeBounds();
    EXPECT_EQ(lower.getValue(), 2);
    EXPECT_EQ(upper.getValue(), 7);
    auto [noLower, noUpper] = prim(INT).getRangeBounds();
    EXPECT_TRUE(noLower.empty() && noUpper.empty());

    span_t at(4, 9);
    type_t r = type_t::createRange(prim(INT), num(0), num(1), at);
    EXPECT_EQ(r.getChild(1).getKind(), UNKNOWN);
    EXPECT_EQ(r.getChild(1).getPosition(), at);
    EXPECT_EQ(r.getChild(2).getExpression().getValue(), 1);
}

TEST(TypeTest, FrameTypesTakeTheSymbolsInOrder)
{
    scope_t frame = scope_t::create();
    frame.addSymbol("a", prim(INT), nullptr);
    frame.addSymbol("c", prim(CLOCK), nullptr);
    struct Case
    {
        type_t type;
        node_kind_t kind;
    };
    const Case cases[] = {
        {type_t::createProcess(frame), PROCESS},
        {type_t::createInstance(frame), INSTANCE},
        {type_t::createLscInstance(frame), LSC_INSTANCE},
        {type_t::createProcessSet(type_t::createInstance(frame)), PROCESS_SET},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(c.type.getKind(), c.kind);
        ASSERT_EQ(c.type.getSize(), 2u);
        EXPECT_EQ(c.type.getLabel(0), "a");
        EXPECT_EQ(c.type.getLabel(1), "c");
        EXPECT_TRUE(c.type.getChild(1).isKind(CLOCK));
    }

    type_t f = type_t::createFunction(prim(VOID_TYPE), {prim(INT), prim(BOOL)}, {"i", "b"});
    ASSERT_EQ(f.getSize(), 3u);
    EXPECT_EQ(f.getLabel(0), "");
    EXPECT_EQ(f.getLabel(2), "b");
    EXPECT_EQ(f.toString(), "(function (void) i:(int) b:(bool))");
}

TEST(TypeTest, DeepCopiesRenameLabelsAndSubstituteBounds)
{
    Names names;
    binding_t n = names.N.getSymbol();
    type_t inner = type_t::createLabel(prim(INT), "old_t");
    type_t rangeN = type_t::createRange(inner, num(0), names.N);
    type_t outer = type_t::createPrefix(rangeN, CONSTANT);

    type_t renamed = outer.renameLabel("old_t", "new_t");
    EXPECT_NE(renamed, outer);
    EXPECT_NE(renamed.getChild(0).getChild(0), inner); // new nodes throughout
    EXPECT_EQ(renamed.getChild(0).getChild(0).getLabel(0), "new_t");
    EXPECT_EQ(inner.getLabel(0), "old_t");                                              // original untouched
    EXPECT_EQ(renamed.getChild(0).getChild(2).getExpression(), names.N);                // expressions shared
    EXPECT_EQ(outer.renameLabel("other", "x").getChild(0).getChild(0).getLabel(0), "old_t");

    type_t substituted = outer.substitute(n, num(5));
    EXPECT_EQ(substituted.getChild(0).getChild(2).getExpression().getValue(), 5);
    EXPECT_EQ(outer.getChild(0).getChild(2).getExpression(), names.N);
    EXPECT_EQ(substituted.toDeclaration(), "const old_t[0,5]");
}

TEST(TypeTest, StructuralText)
{
    Names names;
    expression_t nPlusOne = expression_t::createBinary(ADD, names.N, num(1));
    struct Case
    {
        const char* name;
        type_t type;
        const char* text;
    };
    const Case cases[] = {
        {"range with expressions", type_t::createRange(prim(INT), num(0), nPlusOne),
         "(range (int) \"0\" \"N + 1\")"},
        {"rate invariant has no name", prim(RATE_INVARIANT), "(type(119))"},
        {"guard sum has no name", prim(GUARD_SUM), "(type(164))"},
        {"channel", prim(CHANNEL), "(channel)"},
        {"process variable", prim(PROCESS_VARIABLE), "(PROCESSVAR)"},
        {"record with labels", type_t::createRecord({prim(INT), prim(CLOCK)}, {"a", "b"}),
         "(struct a:(int) b:(clock))"},
        {"const label", type_t::createPrefix(type_t::createLabel(prim(BOOL), "b_t"), CONSTANT),
         "(const (label b_t:(bool)))"},
        {"typedef", type_t::createTypeDef("t", prim(DOUBLE)), "(def t:(double))"},
        {"array with a null index", type_t::createArray(prim(INT), type_t()), "(array (int) unknown)"},
        {"meta prefix", type_t::createPrefix(prim(INT), META), "(type(143) (int))"},
        {"lsc instance", prim(LSC_INSTANCE), "(LSC instance)"},
        {"instance line", prim(INSTANCE_LINE), "(instance line)"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.type.toString(), c.text) << c.name;
    }
}

TEST(TypeTest, DeclarationText)
{
    Names names;
    type_t plainInt = range(-32767, 32767);
    type_t sizedByN = type_t::createArray(plainInt, type_t::createRange(prim(INT), num(0),
                                                                        expression_t::createBinary(SUBTRACT, names.N, num(1))));
    type_t named = type_t::createLabel(range(0, 5), "id_t");
    type_t scalarSet = type_t::createLabel(
        type_t::createLabel(type_t::createRange(prim(SCALAR), num(0), expression_t::createBinary(SUBTRACT, names.N, num(1))),
                            "#scalarset0"),
        "P::");
    struct Case
    {
        const char* name;
        type_t type;
        const char* text;
    };
    const Case cases[] = {
        {"plain int", plainInt, "int"},
        {"bounded int", range(0, 5), "int[0,5]"},
        {"bounds by name", type_t::createRange(prim(INT), num(1), names.N), "int[1,N]"},
        {"array of size N", sizedByN, "int[N]"},
        {"array of arrays prints the outer size first", type_t::createArray(sizedByN, type_t::createRange(prim(INT), num(0),
                                                                            expression_t::createBinary(SUBTRACT, num(3), num(1)))),
         "int[3][N]"},
        {"array indexed by a named range", type_t::createArray(prim(BOOL), named), "bool[id_t]"},
        {"array indexed by a constant range", type_t::createArray(prim(BOOL), range(0, 4)), "bool[5]"},
        // An index range that is not 0 .. e - 1 keeps its bounds: the size alone would
        // read back as another array.
        {"array indexed by a range not from 0", type_t::createArray(prim(BOOL), range(2, 4)), "bool[int[2,4]]"},
        {"array indexed by 0 .. N + 1",
         type_t::createArray(prim(BOOL), type_t::createRange(prim(INT), num(0),
                                                             expression_t::createBinary(ADD, names.N, num(1)))),
         "bool[int[0,N + 1]]"},
        {"array indexed by 1 .. N - 1",
         type_t::createArray(prim(BOOL), type_t::createRange(prim(INT), num(1),
                                                             expression_t::createBinary(SUBTRACT, names.N, num(1)))),
         "bool[int[1,N - 1]]"},
        {"array indexed by a named range of size N",
         type_t::createArray(prim(BOOL), type_t::createLabel(type_t::createRange(prim(INT), num(0),
                                                                                 expression_t::createBinary(SUBTRACT, names.N, num(1))),
                                                             "id_t")),
         "bool[id_t]"},
        {"typedef", type_t::createTypeDef("id_t", range(0, 5)), "typedef int[0,5] id_t"},
        {"named type", named, "id_t"},
        {"channel", prim(CHANNEL), "chan"},
        {"urgent broadcast channel", type_t::createPrefix(type_t::createPrefix(prim(CHANNEL), BROADCAST), URGENT),
         "urgent broadcast chan"},
        // The builders nest an urgent broadcast channel the other way round.
        {"urgent broadcast channel as the builders make it",
         type_t::createPrefix(type_t::createPrefix(prim(CHANNEL), URGENT), BROADCAST), "urgent broadcast chan"},
        {"const int", type_t::createPrefix(plainInt, CONSTANT), "const int"},
        {"meta", type_t::createPrefix(prim(INT), META), "meta int"},
        {"hybrid clock", type_t::createPrefix(prim(CLOCK), HYBRID), "hybrid clock"},
        {"struct", type_t::createRecord({plainInt, prim(CLOCK)}, {"a", "b"}), "struct { int a; clock b; }"},
        {"typedef of an array", type_t::createTypeDef("row", type_t::createArray(prim(BOOL), range(0, 3))),
         "typedef bool row[4]"},
        {"array of bounded ints", type_t::createArray(range(0, 5), range(0, 2)), "int[0,5][3]"},
        // Scalar sets as the builders make them: a range of SCALAR from 0 to N - 1 under a
        // numbered label, inside a template under a second label of the template's name.
        {"scalar set", scalarSet, "scalar[N]"},
        {"typedef of a scalar set", type_t::createTypeDef("pid_t", scalarSet), "typedef scalar[N] pid_t"},
        {"named scalar set", type_t::createLabel(scalarSet, "pid_t"), "pid_t"},
        {"array over a scalar set", type_t::createArray(prim(INT), scalarSet), "int[scalar[N]]"},
        {"array over a named scalar set", type_t::createArray(prim(BOOL), type_t::createLabel(scalarSet, "pid_t")),
         "bool[pid_t]"},
        {"bound node", type_t::createRange(prim(INT), num(0), num(1)).getChild(1), ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.type.toDeclaration(), c.text) << c.name;
    }
    type_t urgentBroadcast = type_t::createPrefix(type_t::createPrefix(prim(CHANNEL), URGENT), BROADCAST);
    EXPECT_EQ(type_t::createArray(urgentBroadcast, range(0, 2)).toDeclaration("c"), "urgent broadcast chan c[3]");
}

TEST(TypeTest, TypeExceptionCarriesItsText)
{
    try {
        throw TypeException(boost::format("$Duplicate_definition_of %1%") % "x");
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "$Duplicate_definition_of x");
    }
    EXPECT_STREQ(TypeException("$Invalid_type").what(), "$Invalid_type");
}
