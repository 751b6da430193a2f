%code requires {
#include "frontend/parse_context.h"
}

%code {
// Parser of the textual model and query language. Reductions call the builder
// directly; no syntax tree is built.
#include <cstddef>
#include <cstring>
#include <string_view>

#include "frontend/parser.h"
#include "frontend/type_exception.h"
#include "language/node_kind.h"

using namespace ZOLT;
using ZOLT::detail::ParseSpan;
using ZOLT::detail::parseContext;

// The stacks hold 200 entries and do not grow: deeper nesting exhausts them.
#define YYINITDEPTH 200
#define YYMAXDEPTH 200

// Syntax error messages are reported as message keys.
#define YY_(message) ZOLT::detail::messageKey(message)

// A symbol spans from the start of its first to the end of its last part; an
// empty one is the empty span at the end of the symbol before it.
#define YYLLOC_DEFAULT(Current, Rhs, N)                            \
    do {                                                           \
        if (N) {                                                   \
            (Current).start = YYRHSLOC(Rhs, 1).start;              \
            (Current).end = YYRHSLOC(Rhs, N).end;                  \
        } else {                                                   \
            (Current).start = (Current).end = YYRHSLOC(Rhs, 0).end; \
        }                                                          \
    } while (0)

// Names of grammar symbols in messages: the end of input and the undefined
// token under their traditional names, quoted names without their quotes.
static std::ptrdiff_t symbolName(char* result, const char* name)
{
    std::string_view text(name);
    if (text == "\"end of file\"")
        text = "$end";
    else if (text == "\"invalid token\"")
        text = "$undefined";
    else if (text.size() >= 2 && text.front() == '"' && text.back() == '"')
        text = text.substr(1, text.size() - 2);
    if (result) {
        std::memcpy(result, text.data(), text.size());
        result[text.size()] = '\0';
    }
    return static_cast<std::ptrdiff_t>(text.size());
}
#define yytnamerr symbolName

static int zolt_lex(ZOLT::detail::TokenValue* value, ParseSpan* span)
{
    return ZOLT::detail::nextToken(value, span);
}

static void zolt_error(ParseSpan*, const char* message)
{
    ZOLT::detail::reportAtToken(message);
}

namespace {

ParseSpan span(const ParseSpan& first, const ParseSpan& last)
{
    return ParseSpan{first.start, last.end};
}

ParseSpan absentSpan()
{
    return ParseSpan{};
}

const char* name(const ZOLT::detail::TokenValue& value)
{
    return value.text;
}

} // namespace

// Runs one builder call at a span: a TypeException it throws is reported at that
// span and the parse goes on as if the call had returned. Then the builder refuses a
// tree that the call made too deep, so that no tree of a model outgrows the walks over it.
#define CALL(at, call)                                                  \
    do {                                                                \
        const ParseSpan callSpan_ = (at);                               \
        ParserBuilder& builder_ = *parseContext().builder;              \
        builder_.setPosition(callSpan_.start, callSpan_.end);           \
        try {                                                           \
            builder_.call;                                              \
        } catch (const ZOLT::TypeException& error_) {                   \
            ZOLT::detail::reportError(builder_, error_.what());         \
        }                                                               \
        builder_.limitNesting();                                        \
    } while (0)
}

%define api.prefix {zolt_}
%define api.pure full
%define api.value.type {ZOLT::detail::TokenValue}
%define api.location.type {ZOLT::detail::ParseSpan}
%define parse.error verbose
%locations
%expect 213

/* Terminals in the order in which syntax error messages list them. */
%token T_ASSIGNMENT T_ASSPLUS T_ASSMINUS T_ASSMULT T_ASSDIV T_ASSMOD T_ASSOR T_ASSAND T_ASSXOR
%token T_ASSLSHIFT T_ASSRSHIFT
%token T_EXCLAM T_INCREMENT T_DECREMENT T_PLUS T_MINUS T_MULT T_DIV T_MOD T_OR T_XOR T_LSHIFT T_RSHIFT
%token T_BOOL_AND T_BOOL_OR T_KW_AND T_KW_OR T_KW_XOR T_KW_IMPLY T_KW_NOT
%token T_SUP T_INF T_COS T_SIN T_EXP T_LOG T_SQRT T_RANDOM T_LN T_FABS T_POW T_CEIL T_FLOOR
%token T_FORALL T_EXISTS T_FOREACH T_SUM
%token T_LT T_LEQ T_EQ T_NEQ T_GEQ T_GT
%token T_FOR T_WHILE T_DO T_BREAK T_CONTINUE T_SWITCH T_IF T_ELSE T_CASE T_DEFAULT T_RETURN T_ASSERT
%token T_PRIORITY T_TYPEDEF T_STRUCT T_CONST T_OLDCONST T_URGENT T_BROADCAST T_TRUE T_FALSE T_META
%token T_SYSTEM T_PROCESS T_STATE T_BRANCH T_COMMIT T_INIT T_TRANS T_SELECT T_GUARD T_SYNC T_ASSIGN
%token T_BEFORE T_AFTER T_PROGRESS T_ARROW T_UNCONTROL_ARROW T_IO
%token T_DEADLOCK T_EF T_EG T_AF T_AG T_LEADSTO T_RESULTSET T_EF_PLUS T_AG_PLUS T_EF_MULT T_AG_MULT
%token T_SCENARIO T_CONTROL T_CONTROL_T T_SIMULATION T_SIMULATE T_CONSISTENCY T_SPECIFICATION
%token T_IMPLEMENTATION T_REFINEMENT T_GANTT T_PMAX T_PROBA T_DIAMOND T_BOX T_HASH
%token T_ERROR T_ID T_TYPENAME T_NAT T_FLOATING T_POS_NEG_MAX
%token T_BOOL T_INT T_CHAN T_CLOCK T_VOID T_SCALAR T_DOUBLE
%token T_NEW T_NEW_DECLARATION T_NEW_LOCAL_DECL T_NEW_INST T_NEW_SYSTEM T_NEW_PARAMETERS
%token T_NEW_INVARIANT T_NEW_GUARD T_NEW_SYNC T_NEW_ASSIGN T_NEW_SELECT T_EXPONENTIALRATE
%token T_OLD T_OLD_DECLARATION T_OLD_LOCAL_DECL T_OLD_INST T_OLD_PARAMETERS T_OLD_INVARIANT
%token T_OLD_GUARD T_OLD_ASSIGN
%token T_PROPERTY T_EXPRESSION T_EXPRESSION_LIST T_XTA_PROCESS T_PROBABILITY
%token T_INSTANCELINE T_MESSAGE T_UPDATE T_CONDITION
%token T_MITL_AND T_MITL_OR T_MITL_NEXT T_DYNAMIC T_HYBRID T_SPAWN T_EXIT T_NUMOF
%token 'A' 'M' 'U' 'W' 'R' '?' ':' '&' T_MIN T_MAX UOPERATOR
%token '(' ')' '[' ']' '.' '\'' ';' ',' '{' '}' 'E' '\n' '\\'

/* Operator precedence, lowest first. */
%right T_ASSIGNMENT T_ASSPLUS T_ASSMINUS T_ASSMULT T_ASSDIV T_ASSMOD T_ASSOR T_ASSAND T_ASSXOR T_ASSLSHIFT T_ASSRSHIFT '?' ':'
%left T_BOOL_OR T_KW_OR T_KW_XOR T_KW_IMPLY
%left T_BOOL_AND T_KW_AND
%left T_OR
%left T_XOR
%left '&'
%left T_EQ T_NEQ
%left T_LT T_LEQ T_GT T_GEQ
%left T_MIN T_MAX
%left T_LSHIFT T_RSHIFT
%left T_PLUS T_MINUS
%left T_MULT T_DIV T_MOD
%precedence UOPERATOR
%precedence T_INCREMENT T_DECREMENT '(' '[' '.' '\''

%start Mirvek

%%

Mirvek
    : T_NEW XTA                         { CALL(@2, done()); }
    | T_NEW_DECLARATION Declarations
    | T_NEW_LOCAL_DECL ProcLocalDeclList
    | T_NEW_INST Declarations
    | T_NEW_SYSTEM XTA
    | T_NEW_PARAMETERS ParameterList
    | T_NEW_INVARIANT Expression
    | T_NEW_SELECT SelectList
    | T_NEW_GUARD Expression            { CALL(@2, procGuard()); }
    | T_NEW_SYNC SyncExpr
    | T_NEW_ASSIGN ExprList             { CALL(@2, procUpdate()); }
    | T_PROBABILITY Expression          { CALL(@2, procProb()); }
    | T_OLD OldXTA                      { CALL(@2, done()); }
    | T_OLD_DECLARATION OldDeclaration
    | T_OLD_LOCAL_DECL OldVarDeclList
    | T_OLD_INST Instantiations
    | T_OLD_PARAMETERS OldProcParamList
    | T_OLD_INVARIANT OldInvariant
    | T_OLD_GUARD OldGuardList          { CALL(@2, procGuard()); }
    | T_OLD_ASSIGN ExprList             { CALL(@2, procUpdate()); }
    | T_PROPERTY PropertyList
    | T_EXPRESSION Expression
    | T_EXPRESSION_LIST ExprList
    | T_XTA_PROCESS ProcDecl
    | T_EXPONENTIALRATE ExpRate
    | T_MESSAGE MessExpr
    | T_UPDATE ExprList                 { CALL(@2, procLscUpdate()); }
    | T_CONDITION Expression            { CALL(@2, procCondition()); }
    | T_INSTANCELINE InstanceLineExpression
    ;

/* ---- Model bodies, instantiation and the system line ---- */

XTA
    : Declarations System
    ;

Instantiations
    : %empty
    | Instantiations Instantiation
    | error ';'
    ;

Instantiation
    : NonTypeId OptionalInstanceParameterList T_ASSIGNMENT NonTypeId '('
        { CALL(span(@1, @4), instantiationBegin(name($1), $2.number, name($4))); }
      ArgList ')' ';'
        { CALL(@$, instantiationEnd(name($1), $2.number, name($4), $7.number)); }
    ;

OptionalInstanceParameterList
    : %empty                { $$.number = 0; }
    | '(' ')'               { $$.number = 0; }
    | '(' ParameterList ')' { $$.number = $2.number; }
    ;

System
    : SysDecl IODecl Progress GanttDecl
    ;

SysDecl
    : T_SYSTEM ProcessList ';'
    | T_SYSTEM error ';'
    ;

ProcessList
    : NonTypeId                             { CALL(@$, process(name($1))); }
    | ProcessList ',' NonTypeId             { CALL(@3, process(name($3))); }
    | ProcessList ProcLessThan NonTypeId    { CALL(@3, process(name($3))); }
    ;

ProcLessThan
    : T_LT                  { CALL(@$, incProcPriority()); }
    ;

PriorityDecl
    : T_CHAN T_PRIORITY ChannelList ';'
    | T_CHAN T_PRIORITY error ';'
    ;

ChannelList
    : ChanElement                       { CALL(@$, beginChanPriority()); }
    | ChannelList ',' ChanElement       { CALL(@$, addChanPriority(',')); }
    | ChannelList T_LT ChanElement      { CALL(@$, addChanPriority('<')); }
    ;

ChanElement
    : ChanExpression
    | T_DEFAULT                         { CALL(@$, defaultChanPriority()); }
    ;

ChanExpression
    : NonTypeId                                 { CALL(@$, exprId(name($1))); }
    | ChanExpression '[' Expression ']'         { CALL(@$, exprArray()); }
    ;

IODecl
    : %empty
    | IODecl T_IO NonTypeId OptionalInstanceParameterList '{' SyncExprList '}'
        { CALL(@$, declIO(name($3), $4.number, $6.number)); }
    ;

SyncExprList
    : IOSyncExpr                        { $$.number = 1; }
    | SyncExprList ',' IOSyncExpr       { $$.number = $1.number + 1; }
    ;

IOSyncExpr
    : ChanExpression                    { CALL(@$, exprSync(2)); }
    | ChanExpression T_EXCLAM           { CALL(@$, exprSync(1)); }
    | ChanExpression error T_EXCLAM     { CALL(span(@1, @2), exprSync(1)); }
    | ChanExpression '?'                { CALL(@$, exprSync(0)); }
    | ChanExpression error '?'          { CALL(span(@1, @2), exprSync(0)); }
    ;

Progress
    : %empty
    | T_PROGRESS '{' ProgressMeasureList '}'
    ;

ProgressMeasureList
    : %empty
    | ProgressMeasureList Expression ':' Expression ';' { CALL(span(@2, @4), declProgress(true)); }
    | ProgressMeasureList Expression ';'                { CALL(@2, declProgress(false)); }
    ;

GanttDecl
    : %empty
    | T_GANTT '{' GanttDef '}'
    ;

GanttDef
    : %empty
    | GanttDef NonTypeId
        { CALL(@2, ganttDeclStart(name($2))); }
      GanttArgs ':' GanttExprList ';'
        { CALL(span(@2, @6), ganttDeclEnd()); }
    ;

GanttArgs
    : %empty
    | '(' GanttDeclSelect ')'
    ;

GanttDeclSelect
    : Id ':' Type                       { CALL(@$, ganttDeclSelect(name($1))); }
    | GanttDeclSelect ',' Id ':' Type   { CALL(span(@3, @5), ganttDeclSelect(name($3))); }
    ;

GanttExprList
    : GanttExpr
    | GanttExprList ',' GanttExpr
    ;

GanttExpr
    : Expression T_ARROW Expression
        { CALL(@$, ganttStart()); CALL(@$, ganttEntryEnd()); }
    | T_FOR
        { CALL(@1, ganttStart()); }
      '(' GanttEntrySelect ')' Expression T_ARROW Expression
        { CALL(span(@1, @7), ganttEntryEnd()); }
    ;

GanttEntrySelect
    : Id ':' Type                       { CALL(@$, ganttEntrySelect(name($1))); }
    | GanttEntrySelect ',' Id ':' Type  { CALL(span(@3, @5), ganttEntrySelect(name($3))); }
    ;

/* ---- Declarations ---- */

Declarations
    : %empty
    | Declarations FunctionDecl
    | Declarations VariableDecl
    | Declarations TypeDecl
    | Declarations ProcDecl
    | Declarations BeforeUpdateDecl
    | Declarations AfterUpdateDecl
    | Declarations Instantiation
    | Declarations PriorityDecl
    | Declarations DynamicDeclaration
    | error ';'
    ;

DynamicDeclaration
    : T_DYNAMIC NonTypeId OptionalParameterList
        { CALL(span(@1, @3), declDynamicTemplate(name($2))); }
      ';'
    ;

BeforeUpdateDecl
    : T_BEFORE '{' ExprList '}'         { CALL(@3, beforeUpdate()); }
    ;

AfterUpdateDecl
    : T_AFTER '{' ExprList '}'          { CALL(@3, afterUpdate()); }
    ;

VariableDecl
    : Type DeclIdList ';'               { CALL(@$, typePop()); }
    ;

DeclIdList
    : DeclId
    | DeclIdList ',' DeclId
    ;

DeclId
    : Id
        { CALL(@1, typeDuplicate()); }
      ArrayDecl VarInit
        { CALL(@$, declVar(name($1), $4.number != 0)); }
    ;

VarInit
    : %empty                            { $$.number = 0; }
    | T_ASSIGNMENT Initializer          { $$.number = 1; }
    ;

Initializer
    : Expression
    | '{' FieldInitList '}'             { CALL(@$, declInitialieserList($2.number)); }
    ;

FieldInitList
    : FieldInit                         { $$.number = 1; }
    | FieldInitList ',' FieldInit       { $$.number = $1.number + 1; }
    ;

FieldInit
    : Id ':' Initializer                { CALL(@$, declFieldInit(name($1))); }
    | Initializer                       { CALL(@$, declFieldInit("")); }
    ;

/* The dimensions of a declared name start a fresh count of pending index types.
   A record used as an index type declares fields with dimensions of their own
   while the enclosing count is pending, so the enclosing count is kept and
   restored when the inner dimensions are done. */
ArrayDecl
    :   { $$.number = parseContext().dimensions; parseContext().dimensions = 0; }
      ArrayDecl2
        { parseContext().dimensions = $1.number; }
    ;

ArrayDecl2
    : %empty
    | '[' Expression ']' ArrayDecl2
        { CALL(span(@1, @3), typeArrayOfSize(parseContext().dimensions)); }
    | '[' Type ']'
        { parseContext().dimensions += 1; }
      ArrayDecl2
        { CALL(span(@1, @3), typeArrayOfType(parseContext().dimensions));
          parseContext().dimensions -= 1; }
    | '[' error ']' ArrayDecl2
    ;

TypeDecl
    : T_TYPEDEF Type TypeIdList ';'     { CALL(@$, typePop()); }
    | T_TYPEDEF error ';'
    ;

TypeIdList
    : TypeId
    | TypeIdList ',' TypeId
    ;

TypeId
    : Id
        { CALL(@1, typeDuplicate()); }
      ArrayDecl
        { CALL(@$, declTypeDef(name($1))); }
    ;

/* ---- Types and names ---- */

Type
    : T_TYPENAME                                        { CALL(@$, typeName(0, name($1))); }
    | TypePrefix T_TYPENAME                             { CALL(@$, typeName($1.number, name($2))); }
    | T_STRUCT '{' FieldDeclList '}'                    { CALL(@$, typeStruct(0, $3.number)); }
    | TypePrefix T_STRUCT '{' FieldDeclList '}'         { CALL(@$, typeStruct($1.number, $4.number)); }
    | T_STRUCT '{' error '}'                            { CALL(@$, typeStruct(0, 0)); }
    | TypePrefix T_STRUCT '{' error '}'                 { CALL(@$, typeStruct(0, 0)); }
    | T_BOOL                                            { CALL(@$, typeBool(0)); }
    | TypePrefix T_BOOL                                 { CALL(@$, typeBool($1.number)); }
    | T_DOUBLE                                          { CALL(@$, typeDouble(0)); }
    | TypePrefix T_DOUBLE                               { CALL(@$, typeDouble($1.number)); }
    | T_INT                                             { CALL(@$, typeInt(0)); }
    | TypePrefix T_INT                                  { CALL(@$, typeInt($1.number)); }
    | T_INT '[' Expression ',' Expression ']'           { CALL(@$, typeBoundedInt(0)); }
    | TypePrefix T_INT '[' Expression ',' Expression ']' { CALL(@$, typeBoundedInt($1.number)); }
    | T_CHAN                                            { CALL(@$, typeChannel(0)); }
    | TypePrefix T_CHAN                                 { CALL(@$, typeChannel($1.number)); }
    | T_CLOCK                                           { CALL(@$, typeClock(0)); }
    | T_HYBRID T_CLOCK                                  { CALL(@1, typeClock(16)); }
    | T_VOID                                            { CALL(@$, typeVoid()); }
    | T_SCALAR '[' Expression ']'                       { CALL(@$, typeScalar(0)); }
    | TypePrefix T_SCALAR '[' Expression ']'            { CALL(@$, typeScalar($1.number)); }
    ;

Id
    : NonTypeId
    | T_TYPENAME
    ;

NonTypeId
    : T_ID
    | 'A'           { $$.text = "A"; }
    | 'U'           { $$.text = "U"; }
    | 'W'           { $$.text = "W"; }
    | 'R'           { $$.text = "R"; }
    | 'E'           { $$.text = "E"; }
    | T_SUP         { $$.text = "sup"; }
    | T_INF         { $$.text = "inf"; }
    ;

FieldDeclList
    : FieldDecl
    | FieldDeclList FieldDecl           { $$.number = $1.number + $2.number; }
    ;

FieldDecl
    : Type FieldDeclIdList ';'          { CALL(@$, typePop()); $$.number = $2.number; }
    ;

FieldDeclIdList
    : FieldDeclId                       { $$.number = 1; }
    | FieldDeclIdList ',' FieldDeclId   { $$.number = $1.number + 1; }
    ;

FieldDeclId
    : Id
        { CALL(@1, typeDuplicate()); }
      ArrayDecl
        { CALL(@$, structField(name($1))); }
    ;

TypePrefix
    : T_URGENT                  { $$.number = 2; }
    | T_BROADCAST               { $$.number = 4; }
    | T_URGENT T_BROADCAST      { $$.number = 6; }
    | T_CONST                   { $$.number = 1; }
    | T_META                    { $$.number = 8; }
    ;

/* ---- Functions, parameters and statements ---- */

FunctionDecl
    : Type Id OptionalParameterList '{'
        { CALL(span(@1, @2), declFuncBegin(name($2))); }
      BlockLocalDeclList StatementList EndBlock
        { CALL(@8, declFuncEnd()); }
    ;

EndBlock
    : '}'
    | error
    ;

OptionalParameterList
    : '(' ')'
    | '(' ParameterList ')'
    | '(' error ')'
    ;

ParameterList
    : Parameter                         { $$.number = 1; }
    | ParameterList ',' Parameter       { $$.number = $1.number + 1; }
    ;

Parameter
    : Type '&' NonTypeId ArrayDecl      { CALL(@$, declParameter(name($3), true)); }
    | Type NonTypeId ArrayDecl          { CALL(@$, declParameter(name($2), false)); }
    ;

Block
    : '{'
        { CALL(@1, procBegin(statementBlock)); }
      BlockLocalDeclList StatementList '}'
        { CALL(span(@2, @4), procEnd(statementBlock)); }
    ;

BlockLocalDeclList
    : %empty
    | BlockLocalDeclList VariableDecl
    | BlockLocalDeclList TypeDecl
    ;

StatementList
    : %empty
    | StatementList Statement
    | StatementList error ';'
    ;

Statement
    : Block
    | ';'                               { CALL(@$, emptyStatement()); }
    | Expression ';'                    { CALL(@$, exprStatement()); }
    | T_FOR '(' ExprList ';' ExprList ';' ExprList ')'
        { CALL(span(@1, @8), forBegin()); }
      Statement
        { CALL(@9, forEnd()); }
    | T_FOR '(' Id ':' Type ')'
        { CALL(span(@1, @6), iterationBegin(name($3))); }
      Statement
        { CALL(@7, iterationEnd(name($3))); }
    | T_FOR '(' error ')' Statement
    | T_WHILE '('
        { CALL(span(@1, @2), whileBegin()); }
      ExprList ')' Statement
        { CALL(span(@3, @4), whileEnd()); }
    | T_WHILE '(' error ')' Statement
    | T_DO
        { CALL(@1, doWhileBegin()); }
      Statement T_WHILE '(' ExprList ')' ';'
        { CALL(span(@2, @7), doWhileEnd()); }
    | T_IF '('
        { CALL(span(@1, @2), ifBegin()); }
      ExprList ')' Statement ElsePart
    | T_RETURN Expression ';'           { CALL(@$, returnStatement(true)); }
    | T_RETURN ';'                      { CALL(@$, returnStatement(false)); }
    | T_ASSERT Expression ';'           { CALL(span(@1, @2), assertStatement()); }
    ;

ElsePart
    : %empty                            { CALL(absentSpan(), ifEnd(false)); }
    | T_ELSE
        { CALL(@1, ifElse()); }
      Statement
        { CALL(@2, ifEnd(true)); }
    ;

/* ---- Expressions ---- */

ExprList
    : Expression
    | ExprList ',' Expression           { CALL(@$, exprComma()); }
    ;

Expression
    : T_FALSE                           { CALL(@$, exprFalse()); }
    | T_TRUE                            { CALL(@$, exprTrue()); }
    | T_NAT                             { CALL(@$, exprNar($1.number)); }
    | T_FLOATING                        { CALL(@$, exprDouble($1.floating)); }
    | BuiltinFunction1 '(' Expression ')'
        { CALL(@$, exprBuiltinFunction1($1.number)); }
    | BuiltinFunction2 '(' Expression ',' Expression ')'
        { CALL(span(@1, @5), exprBuiltinFunction2($1.number)); }
    | NonTypeId                         { CALL(@$, exprId(name($1))); }
    | Expression '(' CallBegin ArgList ')'  { CALL(@$, exprCallEnd($4.number)); }
    | Expression '(' CallBegin error ')'    { CALL(@$, exprCallEnd(0)); }
    | Expression '[' Expression ']'     { CALL(@$, exprArray()); }
    | Expression '[' error ']'          { CALL(@$, exprFalse()); }
    | '(' Expression ')'
    | '(' error ')'                     { CALL(@$, exprFalse()); }
    | Expression T_INCREMENT            { CALL(@$, exprPostIncrement()); }
    | T_INCREMENT Expression %prec UOPERATOR    { CALL(@$, exprPreIncrement()); }
    | Expression T_DECREMENT            { CALL(@$, exprPostDecrement()); }
    | T_DECREMENT Expression %prec UOPERATOR    { CALL(@$, exprPreDecrement()); }
    | T_MINUS T_POS_NEG_MAX             { CALL(@$, exprNar(INT32_MIN)); }
    | UnaryOp Expression %prec UOPERATOR        { CALL(@$, exprUnary($1.number)); }
    | Expression T_LT Expression        { CALL(@$, exprBinary(LESS)); }
    | Expression T_LEQ Expression       { CALL(@$, exprBinary(LESS_EQUAL)); }
    | Expression T_EQ Expression        { CALL(@$, exprBinary(EQUAL)); }
    | Expression T_NEQ Expression       { CALL(@$, exprBinary(NOT_EQUAL)); }
    | Expression T_GT Expression        { CALL(@$, exprBinary(GREATER)); }
    | Expression T_GEQ Expression       { CALL(@$, exprBinary(GREATER_EQUAL)); }
    | Expression T_PLUS Expression      { CALL(@$, exprBinary(ADD)); }
    | Expression T_MINUS Expression     { CALL(@$, exprBinary(SUBTRACT)); }
    | Expression T_MULT Expression      { CALL(@$, exprBinary(MULTIPLY)); }
    | Expression T_DIV Expression       { CALL(@$, exprBinary(DIVIDE)); }
    | Expression T_MOD Expression       { CALL(@$, exprBinary(MODULO)); }
    | Expression '&' Expression         { CALL(@$, exprBinary(BITWISE_AND)); }
    | Expression T_OR Expression        { CALL(@$, exprBinary(BITWISE_OR)); }
    | Expression T_XOR Expression       { CALL(@$, exprBinary(BITWISE_XOR)); }
    | Expression T_LSHIFT Expression    { CALL(@$, exprBinary(SHIFT_LEFT)); }
    | Expression T_RSHIFT Expression    { CALL(@$, exprBinary(SHIFT_RIGHT)); }
    | Expression T_BOOL_AND Expression  { CALL(@$, exprBinary(LOGICAL_AND)); }
    | Expression T_BOOL_OR Expression   { CALL(@$, exprBinary(LOGICAL_OR)); }
    | Expression '?' Expression ':' Expression  { CALL(@$, exprInlineIf()); }
    | Expression '.' NonTypeId          { CALL(@$, exprDot(name($3))); }
    | Expression '\''                   { CALL(@$, exprUnary(RATE)); }
    | T_DEADLOCK                        { CALL(@$, exprDeadlock()); }
    | Expression T_KW_IMPLY
        { CALL(@1, exprUnary(LOGICAL_NOT)); }
      Expression
        { CALL(@3, exprBinary(LOGICAL_OR)); }
    | Expression T_KW_AND Expression    { CALL(@$, exprBinary(LOGICAL_AND)); }
    | Expression T_KW_OR Expression     { CALL(@$, exprBinary(LOGICAL_OR)); }
    | Expression T_KW_XOR Expression    { CALL(@$, exprBinary(LOGICAL_XOR)); }
    | Expression T_MIN Expression       { CALL(@$, exprBinary(MINIMUM)); }
    | Expression T_MAX Expression       { CALL(@$, exprBinary(MAXIMUM)); }
    | T_SUM '(' Id ':' Type ')'
        { CALL(span(@1, @6), exprSumBegin(name($3))); }
      Expression
        { CALL(@$, exprSumEnd(name($3))); }
    | T_FORALL '(' Id ':' Type ')'
        { CALL(span(@1, @6), exprForAllBegin(name($3))); }
      Expression
        { CALL(@$, exprForAllEnd(name($3))); }
    | T_EXISTS '(' Id ':' Type ')'
        { CALL(span(@1, @6), exprExistsBegin(name($3))); }
      Expression
        { CALL(@$, exprExistsEnd(name($3))); }
    | DynamicExpression
    | MITLExpression
    | Assignment
    ;

CallBegin
    : %empty            { CALL(span(@-1, @0), exprCallBegin()); }
    ;

DynamicExpression
    : T_SPAWN NonTypeId
        { CALL(span(@1, @2), exprId(name($2))); }
      '(' ArgList ')'
        { CALL(@$, exprSpawn($5.number)); }
    | T_EXIT '(' ')'                    { CALL(@$, exprExit()); }
    | T_NUMOF '(' NonTypeId ')'
        { CALL(@1, exprId(name($3))); CALL(@$, exprNumOf()); }
    | T_FORALL '(' Id ':' NonTypeId
        { CALL(span(@1, @5), exprId(name($5)));
          CALL(span(@1, @5), exprForAllDynamicBegin(name($3), name($5))); }
      ')' '(' Expression ')'
        { CALL(span(@1, @8), exprForAllDynamicEnd(name($3))); }
    | T_EXISTS '(' Id ':' NonTypeId
        { CALL(span(@1, @5), exprId(name($5)));
          CALL(span(@1, @5), exprExistsAllDynamicBegin(name($3), name($5))); }
      ')' '(' Expression ')'
        { CALL(span(@1, @8), exprExistsAllDynamicEnd(name($3))); }
    | T_SUM '(' Id ':' NonTypeId
        { CALL(span(@1, @5), exprId(name($5)));
          CALL(span(@1, @5), exprSumDynamicBegin(name($3), name($5))); }
      ')' Expression
        { CALL(@$, exprSumDynamicEnd(name($3))); }
    | T_FOREACH '(' Id ':' NonTypeId
        { CALL(span(@1, @5), exprId(name($5)));
          CALL(span(@1, @5), exprForeachDynamicBegin(name($3), name($5))); }
      ')' Expression
        { CALL(@$, exprForeachDynamicEnd(name($3))); }
    ;

Assignment
    : Expression AssignOp Expression %prec T_ASSIGNMENT
        { CALL(@$, exprAssignment($2.number)); }
    ;

AssignOp
    : T_ASSIGNMENT      { $$.number = ASSIGN; }
    | T_ASSPLUS         { $$.number = ADD_ASSIGN; }
    | T_ASSMINUS        { $$.number = SUBTRACT_ASSIGN; }
    | T_ASSDIV          { $$.number = DIVIDE_ASSIGN; }
    | T_ASSMOD          { $$.number = MODULO_ASSIGN; }
    | T_ASSMULT         { $$.number = MULTIPLY_ASSIGN; }
    | T_ASSAND          { $$.number = AND_ASSIGN; }
    | T_ASSOR           { $$.number = OR_ASSIGN; }
    | T_ASSXOR          { $$.number = XOR_ASSIGN; }
    | T_ASSLSHIFT       { $$.number = SHIFT_LEFT_ASSIGN; }
    | T_ASSRSHIFT       { $$.number = SHIFT_RIGHT_ASSIGN; }
    ;

UnaryOp
    : T_MINUS           { $$.number = SUBTRACT; }
    | T_PLUS            { $$.number = ADD; }
    | T_EXCLAM          { $$.number = LOGICAL_NOT; }
    | T_KW_NOT          { $$.number = LOGICAL_NOT; }
    ;

BuiltinFunction1
    : T_COS             { $$.number = COS; }
    | T_SIN             { $$.number = SIN; }
    | T_EXP             { $$.number = EXP; }
    | T_LOG             { $$.number = LOG; }
    | T_SQRT            { $$.number = SQRT; }
    | T_RANDOM          { $$.number = RANDOM; }
    | T_LN              { $$.number = LN; }
    | T_FABS            { $$.number = FABS; }
    | T_CEIL            { $$.number = CEIL; }
    | T_FLOOR           { $$.number = FLOOR; }
    ;

BuiltinFunction2
    : T_POW             { $$.number = POW; }
    ;

ArgList
    : %empty                    { $$.number = 0; }
    | Expression                { $$.number = 1; }
    | ArgList ',' Expression    { $$.number = $1.number + 1; }
    ;

/* ---- Templates ---- */

ProcDecl
    : T_PROCESS Id OptionalParameterList '{'
        { CALL(span(@1, @4), procBegin(name($2), true, "", "")); }
      ProcBody '}'
        { CALL(span(@6, @7), procEnd()); }
    ;

ProcBody
    : ProcLocalDeclList States LocFlags Init Transitions
    | ProcLocalDeclList States Branches LocFlags Init Transitions
    | %empty
    ;

ProcLocalDeclList
    : %empty
    | ProcLocalDeclList FunctionDecl
    | ProcLocalDeclList VariableDecl
    | ProcLocalDeclList TypeDecl
    ;

States
    : T_STATE StateDeclList ';'
    | error ';'
    ;

StateDeclList
    : StateDecl
    | StateDeclList ',' StateDecl
    ;

StateDecl
    : NonTypeId                         { CALL(@$, procState(name($1), false, false)); }
    | NonTypeId '{' Expression '}'      { CALL(@$, procState(name($1), true, false)); }
    | NonTypeId '[' ExpRate ']'         { CALL(@$, procState(name($1), false, true)); }
    | NonTypeId '{' error '}'           { CALL(@$, procState(name($1), false, false)); }
    ;

ExpRate
    : Expression
    | Expression ':' Expression         { CALL(@$, exprBinary(FRACTION)); }
    ;

Branches
    : T_BRANCH BranchDeclList ';'
    ;

BranchDeclList
    : BranchDecl
    | BranchDeclList ',' BranchDecl
    ;

BranchDecl
    : NonTypeId                         { CALL(@$, procBranchpoint(name($1))); }
    ;

LocFlags
    : %empty
    | LocFlags Commit
    | LocFlags Urgent
    ;

Commit
    : T_COMMIT CStateList ';'
    | T_COMMIT error ';'
    ;

Urgent
    : T_URGENT UStateList ';'
    | T_URGENT error ';'
    ;

CStateList
    : NonTypeId                         { CALL(@$, procStateCommit(name($1))); }
    | CStateList ',' NonTypeId          { CALL(@$, procStateCommit(name($3))); }
    ;

UStateList
    : NonTypeId                         { CALL(@$, procStateUrgent(name($1))); }
    | UStateList ',' NonTypeId          { CALL(@$, procStateUrgent(name($3))); }
    ;

Init
    : T_INIT NonTypeId ';'              { CALL(@$, procStateInit(name($2))); }
    | error ';'
    ;

Transitions
    : %empty
    | T_TRANS TransitionList ';'
    | T_TRANS error ';'
    ;

TransitionList
    : Transition
    | TransitionList ',' TransitionOpt
    ;

Transition
    : NonTypeId T_ARROW NonTypeId '{'
        { CALL(span(@1, @3), procEdgeBegin(name($1), name($3), true, "")); }
      Select Guard Sync Assign '}'
        { parseContext().lastSource = name($1);
          CALL(span(@1, @8), procEdgeEnd(name($1), name($3))); }
    | NonTypeId T_UNCONTROL_ARROW NonTypeId '{'
        { CALL(span(@1, @3), procEdgeBegin(name($1), name($3), false, "")); }
      Select Guard Sync Assign '}'
        { parseContext().lastSource = name($1);
          CALL(span(@1, @8), procEdgeEnd(name($1), name($3))); }
    | NonTypeId T_ARROW NonTypeId
        { CALL(span(@1, @3), procEdgeBegin(name($1), name($3), true, "")); }
      '[' Expression ']'
        { CALL(@2, procProb());
          CALL(span(@1, @6), procEdgeEnd(name($1), name($3))); }
    ;

TransitionOpt
    : T_ARROW NonTypeId '{'
        { CALL(span(@1, @2), procEdgeBegin(parseContext().lastSource.c_str(), name($2), true, "")); }
      Select Guard Sync Assign '}'
        { CALL(span(@1, @7), procEdgeEnd(parseContext().lastSource.c_str(), name($2))); }
    | T_UNCONTROL_ARROW NonTypeId '{'
        { CALL(span(@1, @2), procEdgeBegin(parseContext().lastSource.c_str(), name($2), false, "")); }
      Select Guard Sync Assign '}'
        { CALL(span(@1, @7), procEdgeEnd(parseContext().lastSource.c_str(), name($2))); }
    | Transition
    ;

Select
    : %empty
    | T_SELECT SelectList ';'
    ;

SelectList
    : Id ':' Type                       { CALL(@$, procSelect(name($1))); }
    | SelectList ',' Id ':' Type        { CALL(span(@3, @5), procSelect(name($3))); }
    ;

Guard
    : %empty
    | T_GUARD Expression ';'            { CALL(@2, procGuard()); }
    | T_GUARD Expression error ';'      { CALL(span(@2, @3), procGuard()); }
    | T_GUARD error ';'
    ;

Sync
    : %empty
    | T_SYNC SyncExpr ';'
    | T_SYNC error ';'
    ;

SyncExpr
    : Expression                        { CALL(@$, procSync(2)); }
    | Expression T_EXCLAM               { CALL(@$, procSync(1)); }
    | Expression error T_EXCLAM         { CALL(span(@1, @2), procSync(1)); }
    | Expression '?'                    { CALL(@$, procSync(0)); }
    | Expression error '?'              { CALL(span(@1, @2), procSync(0)); }
    ;

Assign
    : %empty
    | T_ASSIGN ExprList ';'             { CALL(@2, procUpdate()); }
    | T_ASSIGN error ';'
    ;

/* ---- LSC labels ---- */

InstanceLineExpression
    : NonTypeId                         { CALL(@$, instanceName(name($1), false)); }
    | NonTypeId '('
        { CALL(@1, instanceNameBegin(name($1))); }
      ArgList ')'
        { CALL(@$, instancNameEnd(name($1), $4.number)); }
    ;

MessExpr
    : Expression                        { CALL(@$, procMessage(0)); }
    | Expression error                  { CALL(@1, procMessage(0)); }
    ;

/* ---- Old syntax ---- */

OldXTA
    : OldDeclaration Instantiations System
    ;

OldDeclaration
    : %empty
    | OldDeclaration OldVarDecl
    | OldDeclaration OldProcDecl
    ;

OldVarDecl
    : VariableDecl
    | T_OLDCONST
        { CALL(@1, typeInt(1)); }
      OldConstDeclIdList ';'
        { CALL(span(@1, @3), typePop()); }
    | T_OLDCONST error ';'
    ;

OldConstDeclIdList
    : OldConstDeclId
    | OldConstDeclIdList ',' OldConstDeclId
    ;

OldConstDeclId
    : NonTypeId
        { CALL(@1, typeDuplicate()); }
      ArrayDecl OldConstAssignment Initializer
        { CALL(@$, declVar(name($1), true)); }
    ;

/* An older constant is written with or without "=" before its value. */
OldConstAssignment
    : %empty
    | T_ASSIGNMENT
    ;

OldProcDecl
    : T_PROCESS Id OldProcParams '{'
        { CALL(span(@1, @4), procBegin(name($2), true, "", "")); }
      OldProcBody '}'
        { CALL(span(@5, @6), procEnd()); }
    | T_PROCESS Id OldProcParams error '{'
        { CALL(span(@1, @5), procBegin(name($2), true, "", "")); }
      OldProcBody '}'
        { CALL(span(@6, @7), procEnd()); }
    | T_PROCESS Id error '{'
        { CALL(span(@1, @4), procBegin(name($2), true, "", "")); }
      OldProcBody '}'
        { CALL(span(@5, @6), procEnd()); }
    | T_PROCESS error '{'
        { CALL(span(@1, @3), procBegin("_", true, "", "")); }
      OldProcBody '}'
        { CALL(span(@4, @5), procEnd()); }
    | T_PROCESS Id '{'
        { CALL(span(@1, @3), procBegin(name($2), true, "", "")); }
      OldProcBody '}'
        { CALL(span(@4, @5), procEnd()); }
    ;

OldProcParams
    : '(' ')'
    | '(' OldProcParamList ')'
    | '(' error ')'
    ;

OldProcParamList
    : OldProcParam                              { CALL(@$, typePop()); }
    | OldProcConstParam
    | OldProcParamList ';' OldProcParam         { CALL(@$, typePop()); }
    | OldProcParamList ';' OldProcConstParam
    ;

OldProcParam
    : Type
        { CALL(@1, typeDuplicate()); }
      NonTypeId ArrayDecl
        { CALL(@$, declParameter(name($3), true)); }
    | OldProcParam
        { CALL(@1, typeDuplicate()); }
      ',' NonTypeId ArrayDecl
        { CALL(@$, declParameter(name($4), true)); }
    ;

OldProcConstParam
    : T_OLDCONST
        { CALL(@1, typeInt(1)); }
      NonTypeId ArrayDecl
        { CALL(span(@3, @4), declParameter(name($3), false)); }
    | OldProcConstParam ','
        { CALL(@1, typeInt(1)); }
      NonTypeId ArrayDecl
        { CALL(span(@4, @5), declParameter(name($4), false)); }
    ;

OldProcBody
    : OldVarDeclList OldStates LocFlags Init OldTransitions
    ;

OldVarDeclList
    : %empty
    | OldVarDeclList OldVarDecl
    ;

OldStates
    : T_STATE OldStateDeclList ';'
    | error ';'
    ;

OldStateDeclList
    : OldStateDecl
    | OldStateDeclList ',' OldStateDecl
    ;

OldStateDecl
    : NonTypeId                         { CALL(@$, procState(name($1), false, false)); }
    | NonTypeId '{' OldInvariant '}'    { CALL(@$, procState(name($1), true, false)); }
    ;

OldInvariant
    : Expression
    | Expression error ','
    | OldInvariant ',' Expression       { CALL(@$, exprBinary(LOGICAL_AND)); }
    ;

OldTransitions
    : %empty
    | T_TRANS OldTransitionList ';'
    | T_TRANS error ';'
    ;

OldTransitionList
    : OldTransition
    | OldTransitionList ',' OldTransitionOpt
    ;

OldTransition
    : NonTypeId T_ARROW NonTypeId '{'
        { CALL(span(@1, @3), procEdgeBegin(name($1), name($3), true, "")); }
      OldGuard Sync Assign '}'
        { parseContext().lastSource = name($1);
          CALL(span(@1, @8), procEdgeEnd(name($1), name($3))); }
    ;

OldTransitionOpt
    : T_ARROW NonTypeId '{'
        { CALL(span(@1, @2), procEdgeBegin(parseContext().lastSource.c_str(), name($2), true, "")); }
      OldGuard Sync Assign '}'
        { CALL(span(@1, @7), procEdgeEnd(parseContext().lastSource.c_str(), name($2))); }
    | OldTransition
    ;

OldGuard
    : %empty
    | T_GUARD OldGuardList ';'          { CALL(@2, procGuard()); }
    | T_GUARD OldGuardList error ';'    { CALL(span(@2, @3), procGuard()); }
    ;

OldGuardList
    : Expression
    | OldGuardList ',' Expression       { CALL(@$, exprBinary(LOGICAL_AND)); }
    ;

/* ---- Queries ---- */

PropertyList
    : PropertyList2 Property
    ;

PropertyList2
    : %empty
    | PropertyList2 Property '\n'
    ;

Property
    : %empty
    | PropertyExpr
    | SupPrefix NonEmptyExpressionList
        { CALL(@$, exprNary(LIST, $2.number)); CALL(@$, exprBinary(SUPREMUM)); CALL(@$, property()); }
    | InfPrefix NonEmptyExpressionList
        { CALL(@$, exprNary(LIST, $2.number)); CALL(@$, exprBinary(INFIMUM)); CALL(@$, property()); }
    ;

SupPrefix
    : T_SUP ':'                         { CALL(@$, exprTrue()); }
    | T_SUP '{' Expression '}' ':'
    ;

InfPrefix
    : T_INF ':'                         { CALL(@$, exprTrue()); }
    | T_INF '{' Expression '}' ':'
    ;

NonEmptyExpressionList
    : Expression                                { $$.number = 1; }
    | NonEmptyExpressionList ',' Expression     { $$.number = $1.number + 1; }
    ;

PropertyExpr
    : SubProperty                       { CALL(@$, property()); }
    | T_AG_MULT Expression              { CALL(@$, exprUnary(ROBUST_ALWAYS_GLOBALLY)); CALL(@$, property()); }
    | T_EF_MULT Expression              { CALL(@$, exprUnary(ROBUST_EXISTS_EVENTUALLY)); CALL(@$, property()); }
    | T_PMAX Expression                 { CALL(@$, exprUnary(SMC_UNARY_QUERY)); CALL(@$, property()); }
    | T_SCENARIO ':' NonTypeId
        { CALL(@$, scenario(name($3))); CALL(@$, exprScenario(name($3))); CALL(@$, property()); }
    | T_PROBA '[' BoundType ']' '(' PathType Expression ')' CmpGLE T_FLOATING
        { CALL(@$, exprProbaQualitative($3.number, $6.number, $9.number, $10.floating));
          CALL(@$, property()); }
    | T_PROBA '[' BoundType ']' '(' PathType Expression ')'
        { CALL(@$, exprProbaEstimate($3.number, $6.number, false)); CALL(@$, property()); }
    | T_PROBA '[' BoundType ']' '(' Expression 'U' Expression ')'
        { CALL(@$, exprProbaEstimate($3.number, DIAMOND_MARKER, true)); CALL(@$, property()); }
    | T_PROBA '[' BoundType ']' '(' PathType Expression ')' T_GEQ T_PROBA '[' BoundType ']' '(' PathType Expression ')'
        { CALL(@$, exprProbaCompare($3.number, $6.number, $12.number, $15.number)); CALL(@$, property()); }
    | T_SIMULATE T_NAT '[' BoundType ']' '{' NonEmptyExpressionList '}'
        { CALL(@$, exprSimulation($2.number, $4.number, $7.number, false, 0)); CALL(@$, property()); }
    | T_SIMULATE T_NAT '[' BoundType ']' '{' NonEmptyExpressionList '}' ':' Expression
        { CALL(@$, exprSimulation($2.number, $4.number, $7.number, true, 0)); CALL(@$, property()); }
    | T_SIMULATE T_NAT '[' BoundType ']' '{' NonEmptyExpressionList '}' ':' T_NAT ':' Expression
        { CALL(@$, exprSimulation($2.number, $4.number, $7.number, true, $10.number)); CALL(@$, property()); }
    | 'E' '[' BoundType ';' Expression ']' '(' Id ':' Expression ')'
        { CALL(@$, exprProbaExpected($3.number, name($8))); CALL(@$, property()); }
    | T_PROBA Expression                { CALL(@$, exprMitlUntil()); CALL(@$, property()); }
    ;

SubProperty
    : T_AF Expression                   { CALL(@$, exprUnary(ALWAYS_EVENTUALLY)); }
    | T_AG '(' Expression BoolOrKWAnd T_AF Expression ')'
        { CALL(span(@5, @6), exprUnary(ALWAYS_EVENTUALLY));
          CALL(span(@3, @6), exprBinary(LOGICAL_AND));
          CALL(@$, exprUnary(ALWAYS_GLOBALLY)); }
    | T_AG Expression                   { CALL(@$, exprUnary(ALWAYS_GLOBALLY)); }
    | T_EF Expression                   { CALL(@$, exprUnary(EXISTS_EVENTUALLY)); }
    | T_EG Expression                   { CALL(@$, exprUnary(EXISTS_GLOBALLY)); }
    | Expression T_LEADSTO Expression   { CALL(@$, exprBinary(LEADS_TO)); }
    | 'A' '[' Expression 'U' Expression ']'     { CALL(@$, exprBinary(ALWAYS_UNTIL)); }
    | 'A' '[' Expression 'W' Expression ']'     { CALL(@$, exprBinary(ALWAYS_WEAK_UNTIL)); }
    ;

BoolOrKWAnd
    : T_KW_AND
    | T_BOOL_AND
    ;

MITLExpression
    : '(' Expression 'U' '[' T_NAT ',' T_NAT ']' Expression ')'
        { CALL(@$, exprMitlUntil($5.number, $7.number)); }
    | '(' Expression 'R' '[' T_NAT ',' T_NAT ']' Expression ')'
        { CALL(@$, exprMitlRelease($5.number, $7.number)); }
    | '(' T_MITL_NEXT Expression ')'    { CALL(@$, exprMitlNext()); }
    | '(' T_DIAMOND '[' T_NAT ',' T_NAT ']' Expression ')'
        { CALL(span(@1, @4), exprMitlEventually($4.number, $6.number)); }
    | '(' T_BOX '[' T_NAT ',' T_NAT ']' Expression ')'
        { CALL(span(@1, @4), exprMitlAlways($4.number, $6.number)); }
    ;

BoundType
    : T_LEQ Expression                  { $$.number = 1; }
    | T_HASH T_LEQ Expression           { $$.number = 0; }
    | Expression T_LEQ Expression       { $$.number = 2; }
    ;

CmpGLE
    : T_GEQ             { $$.number = GREATER_EQUAL; }
    | T_LEQ             { $$.number = LESS_EQUAL; }
    ;

PathType
    : T_BOX             { $$.number = BOX_MARKER; }
    | T_DIAMOND         { $$.number = DIAMOND_MARKER; }
    ;

%%

namespace ZOLT::detail {

int parseTokens()
{
    return zolt_parse();
}

} // namespace ZOLT::detail
