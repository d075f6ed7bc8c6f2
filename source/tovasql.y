/* TOVASQL statements: SELECT fields FROM hierarchies [WHERE conditions], an LALR(1) grammar
 * over the tokens of TOVASQLLexer. The actions drive the building steps of the root
 * (TOVASQLExpressionCommon): names and values are pushed at the back of its queue, operators
 * at its front, and build_constraint combines them.
 *
 * The lists are left-recursive so that the parser's stack stays small however long they are.
 * AND and OR share one level and group from the left. There are no conflicts; the count is
 * pinned so that a change that adds one fails the build.
 */

%define api.pure full
%define api.prefix {tovasql}
%define api.token.prefix {TQ_}
%define api.value.type {int}
%define parse.error simple
%parse-param {TovasqlParseContext* ctx}
%lex-param {TovasqlParseContext* ctx}

%code top {
// The state stack starts with 200 entries and doubles up to 10000.
#define YYINITDEPTH 200
#define YYMAXDEPTH 10000
}

%code requires {
class TovasqlParseContext;
}

%code {
#include "tovasqlparsecontext.h"

namespace {
int tovasqllex(int* value, TovasqlParseContext* ctx) { return ctx->lex(value); }
void tovasqlerror(TovasqlParseContext* ctx, const char* message) { ctx->syntax_error(message); }
}  // namespace

using Node = common::TOVASQLExpressionCommon;
using T = NUVA_o::tovasql_parser::TOVASQLExpression;
#define STEP(body) if (!ctx->step([&](Node& root) { body; })) YYABORT
#define NODE(type) STEP(root.add_expression_node(T::type))
#define NAME(i) STEP(root.add_string_node(ctx->text(i)))
#define CONSTRAINT(n) STEP(root.build_constraint(n))
}

/* The token numbers are fixed: other code of the product knows them. */
%token SELECT 258 FROM 259 WHERE 260 COMMA 261 COLON 262 SEMICOLON 263 LPAREN 264 RPAREN 265
%token STAR 266 MINUS 267 NUMBER 268 IDENT 269 SQUOTED 270 DQUOTED 271
%token PARAM1 272 PARAM2 273 PARAM3 274 PARAM4 275
%token EQ 276 NE 277 LT 278 LE 279 GE 280 GT 281 BETWEEN 282 IN 283 LIKE 284 AND 285 OR 286
%token NOT 287 END 288
/* A number without digits, or text after the line feed that ended the statement. */
%token INVALID 289


%expect 0

%%

statement:
    select_part terminator
  | select_part WHERE condition { NODE(TOVASQL_ET_WHERE); } terminator
  ;

terminator: END | SEMICOLON END ;

select_part:
    SELECT name_list FROM { NODE(TOVASQL_ET_FROM); } name_list { NODE(TOVASQL_ET_SELECT); }
  ;

name_list: name | name_list COMMA name ;

name: IDENT { NAME($1); } | DQUOTED { NAME($1); } ;

condition:
    predicate
  | condition AND predicate { NODE(TOVASQL_ET_AND); }
  | condition OR predicate { NODE(TOVASQL_ET_OR); }
  ;

predicate:
    name compare value { CONSTRAINT(2); }
  | name between number AND number { CONSTRAINT(2); }
  | name between string AND string { CONSTRAINT(3); }
  | name in LPAREN string_list RPAREN { CONSTRAINT(0); }
  ;

compare:
    EQ { NODE(TOVASQL_ET_EQUAL); }
  | NE { NODE(TOVASQL_ET_NOTEQUAL); }
  | LE { NODE(TOVASQL_ET_LESSEQUAL); }
  | GE { NODE(TOVASQL_ET_GREATEREQUAL); }
  | LT { NODE(TOVASQL_ET_LESS); }
  | GT { NODE(TOVASQL_ET_GREATER); }
  | like
  ;

like: NOT LIKE { STEP(root.set_not_pending(); root.add_expression_node(T::TOVASQL_ET_LIKE)); }
    | LIKE { NODE(TOVASQL_ET_LIKE); } ;
in: NOT IN { STEP(root.set_not_pending(); root.add_expression_node(T::TOVASQL_ET_INLIST)); }
  | IN { NODE(TOVASQL_ET_INLIST); } ;
between:
    NOT BETWEEN { STEP(root.set_not_pending(); root.add_expression_node(T::TOVASQL_ET_BETWEEN)); }
  | BETWEEN { NODE(TOVASQL_ET_BETWEEN); } ;

value: string | number ;

string: SQUOTED { NAME($1); } ;

/* A minus sign keeps the number negative. */
number: NUMBER { if (!ctx->number($1, false)) YYABORT; }
      | MINUS NUMBER { if (!ctx->number($2, true)) YYABORT; }
      ;

string_list: string | string_list COMMA string ;

%%
