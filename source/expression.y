/* The expression language: an LALR(1) grammar over the tokens of KELLexer.
 *
 * Every rule that makes a node takes its children from the node stack of the parse context
 * (the topmost n nodes, in source order) and pushes the new node; chain rules leave the stack
 * alone. List rules count what they left on the stack in their semantic value.
 *
 * Conflicts. The language lets one text be read as a set, a member, a tuple or a number.
 *  - shift/reduce: none are left; the precedence declarations below settle every one (the
 *    arithmetic levels, the sign, NOT over the logical operators, the levels of the logical
 *    operators, and the infix set operators "+" and "*" sharing the levels of the
 *    arithmetic ones).
 *  - reduce/reduce: none. A member or tuple followed by "(" numeric ")" would complete both a
 *    member call (node 14) and a tuple call (node 138) on the same 26 look-ahead tokens; an
 *    LALR(1) parser has no sound default for that, so the form is the member call only and
 *    node 138 comes from ITEM(set, n) and from a set called with an index (which is how
 *    node 138 prints).
 * The count is pinned (%expect 0; Bison always rejects reduce/reduce conflicts of a
 * deterministic parser) so that a change that adds an ambiguity fails the build.
 */

%define api.pure full
%define api.prefix {kel}
%define api.token.prefix {KT_}
%define api.value.type {union KelValue}
%define parse.error simple
%parse-param {KelParseContext* ctx}
%lex-param {KelParseContext* ctx}

%code top {
// The state stack starts with 200 entries and doubles up to 10000; deeper input raises the
// stack exhaustion error instead of growing further.
#define YYINITDEPTH 200
#define YYMAXDEPTH 10000
}

%code requires {
// One field per symbol kind: the parser copies values on every step, so they stay small.
union KelValue {
  double number;  // NUMBER: the scanned value
  int type;       // operators: the node type they build
  int count;      // lists: the number of nodes left on the node stack
  int text;       // names: index of the token text in the parse context
};
#define KELSTYPE_IS_TRIVIAL 1
#define YYSTYPE_IS_TRIVIAL 1
class KelParseContext;
}

%code {
#include "KELParseContext.h"

namespace {
int kellex(KELSTYPE* value, KelParseContext* ctx) { return ctx->lex(value); }
void kelerror(KelParseContext* ctx, const char* message) { ctx->syntax_error(message); }
}  // namespace

#define L(t) ctx->leaf(t)
// A node deeper than the tree limit aborts the parse (the failure is recorded).
#define B(t, n) if (!ctx->build(t, n)) YYABORT
}

%token END 1 NUMBER 2 IDENT 3 COMMA 7 EQ 9 LPAREN 10 RPAREN 11 LT 12 GT 13 PERCENT 14
%token PLUS 15 MINUS 16 STAR 17 SLASH 18 BACKSLASH 19 CARET 20 GE 21 LE 22 NE 23
%token NAME1 174 LEVEL_NAME 175 MEMBER_NAME 176 MEASURE_NAME 177 DIMENSION_NAME3 178
%token DIMENSION_NAME 179 COLON 184
/* Name tokens that this lexer never produces; the grammar keeps their rules. */
%token NUMERIC_NAME MEMBER_NAME2 SET_NAME DIMENSION_NAME2
/* Non-blank text after a line feed: no rule accepts it. */
%token TRAILING_TEXT
/* A parameter placeholder, "<<" name ">>". */
%token PLACEHOLDER

%token ADDCALCULATEDMEMBERS AGGREGATE ALLMEMBERS ASCENDANTS ANCESTORS ANCESTOR ARRAY AFTER
%token AXIS ACOS ASIN ASC ABS ATN AND AVG ALL
%token BEFORE_AND_AFTER BOTTOMPERCENT BOTTOMCOUNT BOTTOMSUM BETWEEN BEFORE BDESC BASC
%token CURRENTDIMENSIONFILTEREDSET CURRENTAXISFILTEREDSET CURRENTDIMENSIONSET CURRENTAXISSET
%token CURRENTMEMBER COALESCEEMPTY CLOSINGPERIOD CORRELATION COVARIANCEN COVARIANCE CURRENTSET
%token CROSSJOIN CHILDREN CURRENT COUSIN COUNT CRPI CAPTION COS
%token DATE DRILLDOWNMEMBERBOTTOM DRILLDOWNLEVELBOTTOM DRILLDOWNMEMBERTOP DRILLDOWNLEVELTOP
%token DRILLDOWNMEMBER DRILLDOWNLEVEL DRILLUPMEMBER DISTINCTCOUNT DEFAULTMEMBER DRILLUPLEVEL
%token DESCENDANTS DIMENSIONS DIMENSION DISTINCT D_T_D DESC
%token EXCLUDEEMPTY EXTRACT EXCEPT EXP EQV E EXISTS
%token FIRSTSIBLING FIRSTCHILD FILTER FALSE FIX
%token GETUNIQUENAME GENERATESET GETCAPTION GENERATE GETNAME
%token HIERARCHIZE HIDETUPLE H_T_D HEAD
%token INCLUDEEMPTY ISGENERATION ISANCESTOR INTERSECT ISSIBLING ISEMPTY INHERIT ISLEAF ITEM IIF
%token INT IMP IS
%token LINREGINTERCEPT LINREGVARIANCE LINREGSLOPE LINREGPOINT LASTPERIODS LASTSIBLING LASTCHILD
%token LINREGR2 LEVELS LEAVES LEVEL LEAD LAG LOG
%token MEMBERS MEMBER MEDIAN M_T_D MIN MAX MOD MTD
%token NONEMPTYCROSSJOIN NEXTMEMBER NAMETOSET NATIVE NULL NOT NAME
%token OPENINGPERIOD OUTSIDE ORDINAL ORDER OR
%token PARALLELPERIOD PERIODSTODATE PREVMEMBER PROPERTY PARENT P_T_D POST
%token Q_T_D QTD
%token ROLLUPCHILDREN REMAINDER RECURSIVE ROUND RANK
%token STRIPCALCULATEDMEMBERS SELF_BEFORE_AFTER SELF_AND_BEFORE SELF_AND_AFTER SHOWTUPLE
%token SIBLINGS STDDEVP SUBSET STDDEV S_T_D SELF SUM SIN SGN SQR SET
%token TOGGLEDRILLSTATE TOPPERCENT TOPCOUNT TOPSUM TUPLE TAIL TRUE TAN
%token UNIQUENAME UNION
%token VARIANCEP VARIANCE VALUE
%token W_T_D WTD XOR Y_T_D YTD

/* Logical operators bind loosest and group to the left, as in MDX and SQL: IMP, then EQV,
   then OR and XOR, then AND; NOT binds tighter than them; then the arithmetic levels; a sign
   binds tightest. Comparisons and IS need no level: a comparison never continues another
   one. Printing parenthesises by the same levels (ExpressionNodeTypes.h); a parenthesised
   numeric builds a group node (190) unless those levels need the parentheses. */
%left IMP
%left EQV
%left OR XOR
%left AND
%precedence NOT
%left PLUS MINUS
%left STAR SLASH BACKSLASH MOD PERCENT
%right CARET
%left E
%precedence SIGN

%expect 0

%%

input:
    expression END { ctx->finish(); }
  ;

expression: value | set | name_function ;

value: logical | numeric ;

numeric:
    numeric_term
  | tuple_or_member { if (!ctx->member_value()) YYABORT; }
  ;

numeric_term:
    LPAREN numeric_term RPAREN { B(190, 1); }
  | numeric_literal
  | MINUS numeric %prec SIGN { if (!ctx->signed_operand(157, "-")) YYABORT; }
  | PLUS numeric %prec SIGN { if (!ctx->signed_operand(191, "+")) YYABORT; }
  | numeric PLUS numeric { B(158, 2); }
  | numeric MINUS numeric { B(159, 2); }
  | numeric SLASH numeric { B(161, 2); }
  | numeric BACKSLASH numeric { B(162, 2); }
  | numeric STAR numeric { B(160, 2); }
  | numeric CARET numeric { B(163, 2); }
  | numeric E numeric { if (!ctx->scaled_number()) YYABORT; }
  | numeric MOD numeric { B(173, 2); }
  | numeric PERCENT numeric { B(144, 2); }
  | math_function
  | coalesceempty_word LPAREN numeric_list RPAREN { B(48, $3.count); }
  | numeric_function
  ;

opt_all:
    %empty { L(198); }
  | COMMA ALL { L(196); }
  ;

opt_inherit:
    %empty { L(214); }
  | COMMA INHERIT { L(215); }
  ;

/* ", RECURSIVE" before or after the optional ", ALL": printing writes it last. */
recursive_all:
    COMMA RECURSIVE opt_all
  | all_leaf COMMA RECURSIVE
  ;
all_leaf: COMMA ALL { L(196); } ;

set:
    ADDCALCULATEDMEMBERS LPAREN set opt_all RPAREN { B(25, 2); }
  | ALLMEMBERS LPAREN level_or_dimension opt_all RPAREN { B(129, 2); }
  | ANCESTORS LPAREN member COMMA level RPAREN { B(130, 2); }
  | ANCESTORS LPAREN member COMMA numeric RPAREN { B(130, 2); }
  | ASCENDANTS LPAREN member RPAREN { B(131, 1); }
  | AXIS LPAREN numeric opt_all RPAREN { B(132, 2); }
  | BOTTOMCOUNT LPAREN set COMMA numeric RPAREN { B(87, 2); }
  | BOTTOMCOUNT LPAREN set COMMA numeric COMMA numeric_value RPAREN { B(71, 3); }
  | BOTTOMPERCENT LPAREN set COMMA numeric COMMA numeric_value RPAREN { B(41, 3); }
  | BOTTOMSUM LPAREN set COMMA numeric COMMA numeric_value RPAREN { B(39, 3); }
  | CHILDREN LPAREN member opt_all RPAREN { B(133, 2); }
  | HEAD LPAREN set RPAREN { B(134, 1); }
  | HEAD LPAREN set COMMA numeric RPAREN { B(134, 2); }
  | MEMBERS LPAREN level_or_dimension opt_all RPAREN { B(137, 2); }
  | CROSSJOIN LPAREN set COMMA set RPAREN { B(89, 2); }
  | set STAR set { B(89, 2); }
  | DESCENDANTS LPAREN member opt_all RPAREN { B(114, 2); }
  | DESCENDANTS LPAREN member COMMA level opt_all RPAREN { B(114, 3); }
  | DESCENDANTS LPAREN member COMMA level COMMA descendants_flag opt_all RPAREN { B(114, 4); }
  | DESCENDANTS LPAREN member COMMA numeric opt_all RPAREN { B(114, 3); }
  | DESCENDANTS LPAREN member COMMA numeric COMMA descendants_flag opt_all RPAREN { B(114, 4); }
  | DISTINCT LPAREN set RPAREN { B(88, 1); }
  | DRILLDOWNLEVEL LPAREN set opt_all RPAREN { B(68, 2); }
  | DRILLDOWNLEVEL LPAREN set COMMA level opt_all RPAREN { B(68, 3); }
  | DRILLDOWNLEVEL LPAREN set COMMA numeric opt_all RPAREN { B(69, 3); }
  | DRILLDOWNLEVELBOTTOM LPAREN set COMMA numeric opt_all RPAREN { B(30, 3); }
  | DRILLDOWNLEVELBOTTOM LPAREN set COMMA numeric COMMA level opt_all RPAREN { B(30, 4); }
  | DRILLDOWNLEVELBOTTOM LPAREN set COMMA numeric COMMA level COMMA numeric_value opt_all RPAREN { B(30, 5); }
  | DRILLDOWNLEVELBOTTOM LPAREN set COMMA numeric COMMA numeric_value opt_all RPAREN { B(29, 4); }
  | DRILLDOWNLEVELTOP LPAREN set COMMA numeric opt_all RPAREN { B(31, 3); }
  | DRILLDOWNLEVELTOP LPAREN set COMMA numeric COMMA level opt_all RPAREN { B(31, 4); }
  | DRILLDOWNLEVELTOP LPAREN set COMMA numeric COMMA level COMMA numeric_value opt_all RPAREN { B(31, 5); }
  | DRILLDOWNLEVELTOP LPAREN set COMMA numeric COMMA numeric_value opt_all RPAREN { B(28, 4); }
  | DRILLDOWNMEMBER LPAREN set COMMA set opt_all RPAREN { B(66, 3); }
  | DRILLDOWNMEMBER LPAREN set COMMA set recursive_all RPAREN { B(67, 3); }
  | DRILLDOWNMEMBERBOTTOM LPAREN set COMMA set COMMA numeric opt_all RPAREN { B(56, 4); }
  | DRILLDOWNMEMBERBOTTOM LPAREN set COMMA set COMMA numeric recursive_all RPAREN { B(55, 4); }
  | DRILLDOWNMEMBERBOTTOM LPAREN set COMMA set COMMA numeric COMMA numeric_value opt_all RPAREN { B(56, 5); }
  | DRILLDOWNMEMBERBOTTOM LPAREN set COMMA set COMMA numeric COMMA numeric_value recursive_all RPAREN { B(55, 5); }
  | DRILLDOWNMEMBERTOP LPAREN set COMMA set COMMA numeric opt_all RPAREN { B(54, 4); }
  | DRILLDOWNMEMBERTOP LPAREN set COMMA set COMMA numeric recursive_all RPAREN { B(53, 4); }
  | DRILLDOWNMEMBERTOP LPAREN set COMMA set COMMA numeric COMMA numeric_value opt_all RPAREN { B(54, 5); }
  | DRILLDOWNMEMBERTOP LPAREN set COMMA set COMMA numeric COMMA numeric_value recursive_all RPAREN { B(53, 5); }
  | DRILLUPLEVEL LPAREN set RPAREN { B(70, 1); }
  | DRILLUPLEVEL LPAREN set COMMA level RPAREN { B(70, 2); }
  | DRILLUPMEMBER LPAREN set COMMA set RPAREN { B(65, 2); }
  | EXCEPT LPAREN set COMMA set RPAREN { B(64, 2); }
  | EXCEPT LPAREN set COMMA set COMMA ALL RPAREN { B(63, 2); }
  | extract_word LPAREN set COMMA dimension_list RPAREN { B(44, 1 + $5.count); }
  | FILTER LPAREN set COMMA logical RPAREN { B(37, 2); }
  | GENERATE LPAREN set COMMA set RPAREN { B(26, 2); }
  | GENERATE LPAREN set COMMA set COMMA ALL RPAREN { B(27, 2); }
  | HIERARCHIZE LPAREN set RPAREN { B(62, 1); }
  | HIERARCHIZE LPAREN set COMMA POST RPAREN { B(61, 1); }
  | INTERSECT LPAREN set COMMA set RPAREN { B(92, 2); }
  | INTERSECT LPAREN set COMMA set COMMA ALL RPAREN { B(93, 2); }
  | LASTPERIODS LPAREN numeric COMMA member RPAREN { B(60, 2); }
  | ORDER LPAREN set COMMA numeric_value RPAREN { B(36, 2); }
  | ORDER LPAREN set COMMA numeric_value COMMA order_direction RPAREN { B(36, 3); }
  | PERIODSTODATE LPAREN level COMMA member RPAREN { B(47, 2); }
  | PERIODSTODATE LPAREN member RPAREN { B(47, 1); }
  | YTD LPAREN member RPAREN { B(210, 1); }
  | QTD LPAREN member RPAREN { B(211, 1); }
  | MTD LPAREN member RPAREN { B(212, 1); }
  | WTD LPAREN member RPAREN { B(213, 1); }
  | SIBLINGS LPAREN member opt_all RPAREN { B(85, 2); }
  | SUBSET LPAREN set COMMA numeric RPAREN { B(59, 2); }
  | SUBSET LPAREN set COMMA numeric COMMA numeric RPAREN { B(59, 3); }
  | STRIPCALCULATEDMEMBERS LPAREN set RPAREN { B(91, 1); }
  | TAIL LPAREN set RPAREN { B(87, 1); }
  | TAIL LPAREN set COMMA numeric RPAREN { B(87, 2); }
  | TOGGLEDRILLSTATE LPAREN set COMMA set opt_all RPAREN { B(16, 3); }
  | TOGGLEDRILLSTATE LPAREN set COMMA set recursive_all RPAREN { B(15, 3); }
  | TOPCOUNT LPAREN set COMMA numeric RPAREN { B(134, 2); }
  | TOPCOUNT LPAREN set COMMA numeric COMMA numeric_value RPAREN { B(72, 3); }
  | TOPPERCENT LPAREN set COMMA numeric COMMA numeric_value RPAREN { B(40, 3); }
  | TOPSUM LPAREN set COMMA numeric COMMA numeric_value RPAREN { B(38, 3); }
  | UNION LPAREN set COMMA set RPAREN { B(58, 2); }
  | UNION LPAREN set COMMA set COMMA ALL RPAREN { B(57, 2); }
  | set PLUS set { B(57, 2); }
  | nonemptycrossjoin_word LPAREN set_list RPAREN { B(13, $3.count); }
  | NAMETOSET LPAREN member RPAREN { B(12, 1); }
  | LPAREN set RPAREN
  | CURRENTSET LPAREN RPAREN { B(3, 0); }
  | set_word LPAREN set_items RPAREN { B(43, $3.count); }
  | CURRENTDIMENSIONFILTEREDSET LPAREN dimension opt_all RPAREN { B(186, 2); }
  | CURRENTDIMENSIONSET LPAREN dimension opt_all RPAREN { B(187, 2); }
  | CURRENTAXISFILTEREDSET LPAREN numeric opt_all RPAREN { B(188, 2); }
  | CURRENTAXISSET LPAREN numeric opt_all RPAREN { B(189, 2); }
  | set_name
  | generateset_word LPAREN property_condition RPAREN { B(200, 1); }
  | generateset_word LPAREN property_condition comma_mark dimension RPAREN { B(200, 2); }
  | SHOWTUPLE LPAREN set COMMA tuple_or_member opt_inherit RPAREN { B(216, 3); }
  | HIDETUPLE LPAREN set COMMA tuple_or_member opt_inherit RPAREN { B(217, 3); }
  ;

generateset_word: GENERATESET ;
comma_mark: COMMA ;

property_condition:
    name_property comparison name_text { B($2.type, 2); }
  | uniquename_property comparison name_text { B($2.type, 2); }
  | caption_property comparison name_text { B($2.type, 2); }
  | level_property comparison name_text { B($2.type, 2); }
  | level_property comparison number_text { B($2.type, 2); }
  | property_ref equality name_text { B($2.type, 2); }
  | property_ref EXISTS boolean { B(208, 2); }
  | property_ref comparison number_text { B($2.type, 2); }
  | property_ref comparison MINUS number_text { ctx->negate_number(); B($2.type, 2); }
  | property_ref equality boolean { B($2.type, 2); }
  | property_ref comparison date_ref { B($2.type, 2); }
  | property_condition AND property_condition { B(151, 2); }
  | property_condition OR property_condition { B(152, 2); }
  | LPAREN property_condition RPAREN { B(206, 1); }
  ;

level_property: LEVEL { L(209); } ;
name_property: NAME { L(202); } ;
uniquename_property: UNIQUENAME { L(203); } ;
caption_property: CAPTION { L(205); } ;
property_ref: PROPERTY LPAREN name_text RPAREN { B(204, 1); } ;
name_text: ident { ctx->leaf_text(207, $1.text); } ;
number_text: NUMBER { ctx->number($1.number); } ;
date_ref: DATE LPAREN name_text RPAREN { B(231, 1); } ;

set_items:
    tuple_or_member { $$.count = 1; }
  | tuple_or_member COMMA set_items { $$.count = 1 + $3.count; }
  | member_range { $$.count = 1; }
  | member_range COMMA set_items { $$.count = 1 + $3.count; }
  ;

member_range: tuple_or_member COLON tuple_or_member { B(195, 2); } ;

set_list:
    set { $$.count = 1; }
  | set COMMA set_list { $$.count = 1 + $3.count; }
  | set COMMA numeric { $$.count = 2; }
  ;

extract_word: EXTRACT ;
nonemptycrossjoin_word: NONEMPTYCROSSJOIN ;
aggregate_word: AGGREGATE ;

descendants_flag:
    SELF { L(115); }
  | AFTER { L(116); }
  | BEFORE { L(117); }
  | BEFORE_AND_AFTER { L(119); }
  | SELF_AND_AFTER { L(120); }
  | SELF_AND_BEFORE { L(121); }
  | SELF_BEFORE_AFTER { L(122); }
  | LEAVES { L(118); }
  ;

order_direction:
    ASC { L(32); }
  | DESC { L(33); }
  | BASC { L(34); }
  | BDESC { L(35); }
  ;

level:
    LEVELS LPAREN dimension COMMA numeric RPAREN { B(136, 2); }
  | LEVELS LPAREN level_name RPAREN { B(136, 1); }
  | LEVEL LPAREN member RPAREN { B(90, 1); }
  | level_name
  ;

level_or_dimension: dimension | level ;

dimension:
    DIMENSION LPAREN member RPAREN { B(46, 1); }
  | DIMENSION LPAREN level RPAREN { B(46, 1); }
  | DIMENSIONS LPAREN numeric RPAREN { B(45, 1); }
  | dimension_tok { ctx->leaf_text(194, $1.text); }
  | dimension_name
  ;

test:
    ISANCESTOR LPAREN member COMMA member RPAREN { B(77, 2); }
  | ISEMPTY LPAREN numeric RPAREN { B(73, 1); }
  | ISGENERATION LPAREN member COMMA numeric RPAREN { B(74, 2); }
  | ISLEAF LPAREN member RPAREN { B(75, 1); }
  | ISSIBLING LPAREN member COMMA member RPAREN { B(76, 2); }
  | tuple_or_member IS tuple_or_member { B(23, 2); }
  | set IS set { B(22, 2); }
  | level IS level { B(21, 2); }
  | level IS NULL { B(20, 1); }
  | tuple_or_member IS NULL { B(19, 1); }
  | BETWEEN LPAREN value COMMA value COMMA value RPAREN { B(0, 3); }
  | OUTSIDE LPAREN value COMMA value COMMA value RPAREN { B(1, 3); }
  ;

member_text: member_tok { ctx->leaf_text(193, $1.text); } ;

member:
    aggregate_word LPAREN set RPAREN { B(230, 1); }
  | ANCESTOR LPAREN member COMMA level RPAREN { B(125, 2); }
  | ANCESTOR LPAREN member COMMA numeric RPAREN { B(125, 2); }
  | CLOSINGPERIOD LPAREN level COMMA member RPAREN { B(50, 2); }
  | CLOSINGPERIOD LPAREN member RPAREN { B(50, 1); }
  | COUSIN LPAREN member COMMA member RPAREN { B(126, 2); }
  | CURRENTMEMBER LPAREN dimension RPAREN { B(135, 1); }
  | PARENT LPAREN member RPAREN { B(139, 1); }
  | member_tok { ctx->leaf_text(193, $1.text); }
  | PREVMEMBER LPAREN member RPAREN { B(128, 1); }
  | NEXTMEMBER LPAREN member RPAREN { B(127, 1); }
  | DEFAULTMEMBER LPAREN dimension RPAREN { B(51, 1); }
  | FIRSTCHILD LPAREN member RPAREN { B(81, 1); }
  | FIRSTSIBLING LPAREN member RPAREN { B(79, 1); }
  | ITEM LPAREN tuple_or_member COMMA numeric RPAREN { B(84, 2); }
  | LAG LPAREN member COMMA numeric RPAREN { B(82, 2); }
  | LASTCHILD LPAREN member RPAREN { B(80, 1); }
  | LASTSIBLING LPAREN member RPAREN { B(78, 1); }
  | LEAD LPAREN member COMMA numeric RPAREN { B(83, 2); }
  | OPENINGPERIOD LPAREN level COMMA member RPAREN { B(49, 2); }
  | OPENINGPERIOD LPAREN member RPAREN { B(49, 1); }
  | PARALLELPERIOD LPAREN member RPAREN { B(17, 1); }
  | PARALLELPERIOD LPAREN numeric COMMA member RPAREN { B(17, 2); }
  | PARALLELPERIOD LPAREN level COMMA member RPAREN { B(17, 2); }
  | PARALLELPERIOD LPAREN level COMMA numeric COMMA member RPAREN { B(17, 3); }
  | tuple_or_member LPAREN numeric RPAREN { B(14, 2); }
  | LPAREN member RPAREN
  | member_name
  | MEMBER LPAREN member_text RPAREN { B(221, 1); }
  ;

level_name: LEVEL_NAME { ctx->leaf_text(123, $1.text); } ;

numeric_value: value ;

numeric_function:
    AVG LPAREN set COMMA numeric_value RPAREN { B(106, 2); }
  | AVG LPAREN set RPAREN { B(106, 1); }
  | CORRELATION LPAREN set COMMA numeric_value RPAREN { B(4, 2); }
  | CORRELATION LPAREN set COMMA numeric_value COMMA numeric_value RPAREN { B(4, 3); }
  | COVARIANCE LPAREN set COMMA numeric_value RPAREN { B(5, 2); }
  | COVARIANCE LPAREN set COMMA numeric_value COMMA numeric_value RPAREN { B(5, 3); }
  | COVARIANCEN LPAREN set COMMA numeric_value RPAREN { B(6, 2); }
  | COVARIANCEN LPAREN set COMMA numeric_value COMMA numeric_value RPAREN { B(6, 3); }
  | COUNT LPAREN set RPAREN { B(108, 1); }
  | COUNT LPAREN set COMMA EXCLUDEEMPTY RPAREN { B(107, 1); }
  | COUNT LPAREN set COMMA INCLUDEEMPTY RPAREN { B(108, 1); }
  | COUNT LPAREN tuple_or_member RPAREN { B(109, 1); }
  | COUNT LPAREN DIMENSIONS RPAREN { B(109, 0); }
  | COUNT LPAREN RPAREN { B(109, 0); }
  | COUNT LPAREN dimension RPAREN { B(110, 1); }
  | COUNT LPAREN level RPAREN { B(184, 1); }
  | DISTINCTCOUNT LPAREN set RPAREN { B(111, 1); }
  | IIF LPAREN value COMMA numeric COMMA numeric RPAREN { B(112, 3); }
  | LINREGINTERCEPT LPAREN set COMMA numeric_value RPAREN { B(10, 2); }
  | LINREGINTERCEPT LPAREN set COMMA numeric_value COMMA numeric_value RPAREN { B(10, 3); }
  | LINREGPOINT LPAREN numeric COMMA set COMMA numeric_value RPAREN { B(11, 3); }
  | LINREGPOINT LPAREN numeric COMMA set COMMA numeric_value COMMA numeric_value RPAREN { B(11, 4); }
  | LINREGR2 LPAREN set COMMA numeric_value RPAREN { B(8, 2); }
  | LINREGR2 LPAREN set COMMA numeric_value COMMA numeric_value RPAREN { B(8, 3); }
  | LINREGSLOPE LPAREN set COMMA numeric_value RPAREN { B(9, 2); }
  | LINREGSLOPE LPAREN set COMMA numeric_value COMMA numeric_value RPAREN { B(9, 3); }
  | LINREGVARIANCE LPAREN set COMMA numeric_value RPAREN { B(7, 2); }
  | LINREGVARIANCE LPAREN set COMMA numeric_value COMMA numeric_value RPAREN { B(7, 3); }
  | MAX LPAREN set RPAREN { B(178, 1); }
  | MAX LPAREN set COMMA numeric_value RPAREN { B(178, 2); }
  | MEDIAN LPAREN set RPAREN { B(105, 1); }
  | MEDIAN LPAREN set COMMA numeric_value RPAREN { B(105, 2); }
  | MIN LPAREN set RPAREN { B(177, 1); }
  | MIN LPAREN set COMMA numeric_value RPAREN { B(177, 2); }
  | NATIVE LPAREN ident RPAREN { ctx->leaf_text(2, $3.text); }
  | NATIVE LPAREN member_tok RPAREN { ctx->leaf_text(2, $3.text); }
  | NATIVE LPAREN dimension_tok RPAREN { ctx->leaf_text(2, $3.text); }
  | NATIVE LPAREN LEVEL_NAME RPAREN { ctx->leaf_text(2, $3.text); }
  | ORDINAL LPAREN level RPAREN { B(113, 1); }
  | RANK LPAREN tuple_or_member COMMA set RPAREN { B(100, 2); }
  | RANK LPAREN tuple_or_member COMMA set COMMA numeric_value RPAREN { B(100, 3); }
  | ROLLUPCHILDREN LPAREN member COMMA rollup_operator opt_all RPAREN { B(99, 3); }
  | STDDEV LPAREN set RPAREN { B(103, 1); }
  | STDDEV LPAREN set COMMA numeric_value RPAREN { B(103, 2); }
  | STDDEVP LPAREN set RPAREN { B(104, 1); }
  | STDDEVP LPAREN set COMMA numeric_value RPAREN { B(104, 2); }
  | SUM LPAREN set RPAREN { B(179, 1); }
  | SUM LPAREN set COMMA numeric_value RPAREN { B(179, 2); }
  | VARIANCE LPAREN set RPAREN { B(101, 1); }
  | VARIANCE LPAREN set COMMA numeric_value RPAREN { B(101, 2); }
  | VARIANCEP LPAREN set RPAREN { B(102, 1); }
  | VARIANCEP LPAREN set COMMA numeric_value RPAREN { B(102, 2); }
  | VALUE LPAREN member RPAREN { B(86, 1); }
  | H_T_D LPAREN member RPAREN { B(222, 1); }
  | Y_T_D LPAREN member RPAREN { B(223, 1); }
  | S_T_D LPAREN member RPAREN { B(224, 1); }
  | P_T_D LPAREN member RPAREN { B(225, 1); }
  | Q_T_D LPAREN member RPAREN { B(226, 1); }
  | M_T_D LPAREN member RPAREN { B(227, 1); }
  | W_T_D LPAREN member RPAREN { B(228, 1); }
  | D_T_D LPAREN member RPAREN { B(229, 1); }
  | NULL { L(185); }
  ;

dimension_list:
    dimension { $$.count = 1; }
  | dimension COMMA dimension_list { $$.count = 1 + $3.count; }
  ;

rollup_operator:
    PLUS { L(94); }
  | MINUS { L(95); }
  | STAR { L(97); }
  | SLASH { L(96); }
  | PERCENT { L(98); }
  ;

tuple_or_member:
    tuple
  | member { B(192, 1); }
  ;

tuple:
    set LPAREN numeric RPAREN { B(138, 2); }
  | ITEM LPAREN set COMMA numeric RPAREN { B(138, 2); }
  | array_word LPAREN member_list RPAREN { B(140, $3.count); }
  | CURRENT LPAREN RPAREN { B(42, 0); }
  | CURRENT LPAREN set RPAREN { B(42, 1); }
  | LPAREN tuple RPAREN
  | tuple_word LPAREN member_list RPAREN { B(140, $3.count); }
  ;

array_word: ARRAY ;
tuple_word: TUPLE ;
set_word: SET ;

member_list:
    member { $$.count = 1; }
  | member COMMA member_list { $$.count = 1 + $3.count; }
  ;

coalesceempty_word: COALESCEEMPTY ;

numeric_literal:
    NUMBER { ctx->number($1.number); }
  | CRPI { ctx->pi(); }
  | numeric_name
  | PLACEHOLDER { ctx->leaf_text(197, $1.text); }
  ;

numeric_list:
    numeric { $$.count = 1; }
  | numeric COMMA numeric_list { $$.count = 1 + $3.count; }
  ;

math_function:
    ABS one_argument { B(164, 1); }
  | ACOS one_argument { B(169, 1); }
  | ASIN one_argument { B(170, 1); }
  | ATN one_argument { B(168, 1); }
  | COS one_argument { B(165, 1); }
  | LOG one_argument { B(171, 1); }
  | SIN one_argument { B(166, 1); }
  | SQR one_argument { B(172, 1); }
  | TAN one_argument { B(167, 1); }
  | EXP one_argument { B(176, 1); }
  | INT one_argument { B(174, 1); }
  | SGN one_argument { B(175, 1); }
  | REMAINDER two_arguments { B(181, 2); }
  | MOD two_arguments { B(173, 2); }
  | ROUND one_argument { B(183, 1); }
  | ROUND two_arguments { B(183, 2); }
  | FIX one_argument { B(182, 1); }
  | FIX two_arguments { B(182, 2); }
  ;

one_argument: LPAREN numeric RPAREN ;
two_arguments: LPAREN numeric COMMA numeric RPAREN ;

logical:
    LPAREN logical RPAREN
  | NOT logical { B(153, 1); }
  | boolean
  | logical AND logical { B(151, 2); }
  | logical OR logical { B(152, 2); }
  | logical XOR logical { B(154, 2); }
  | logical EQV logical { B(155, 2); }
  | logical IMP logical { B(156, 2); }
  | test
  | numeric comparison numeric { B($2.type, 2); }
  ;

boolean:
    TRUE { ctx->boolean(true); }
  | FALSE { ctx->boolean(false); }
  ;

numeric_name: NUMERIC_NAME { ctx->leaf_text(124, $1.text); } ;
member_name: MEMBER_NAME2 { ctx->leaf_text(193, $1.text); } ;
set_name: SET_NAME { ctx->leaf_text(124, $1.text); } ;
dimension_name: DIMENSION_NAME2 { ctx->leaf_text(194, $1.text); } ;

equality:
    NE { $$.type = 146; }
  | EQ { $$.type = 145; }
  ;

comparison:
    equality
  | LE { $$.type = 148; }
  | GE { $$.type = 150; }
  | LT { $$.type = 147; }
  | GT { $$.type = 149; }
  ;

dimension_or_member: dimension | member ;

name_function:
    GETNAME LPAREN dimension_or_member RPAREN { B(218, 1); }
  | GETUNIQUENAME LPAREN dimension_or_member RPAREN { B(219, 1); }
  | GETCAPTION LPAREN dimension_or_member RPAREN { B(220, 1); }
  ;

/* Token groups: a generic name is an unknown braced name or a name the cube knows as kind 1;
   dimension names are kinds 2 and 3; member names are members and measures. */
ident: IDENT | NAME1 ;
dimension_tok: DIMENSION_NAME | DIMENSION_NAME3 ;
member_tok: MEMBER_NAME | MEASURE_NAME ;

%%
