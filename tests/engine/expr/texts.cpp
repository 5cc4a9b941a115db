#include "tests/engine/expr/texts.h"

namespace exprtest {

const std::vector<ShapeCase> &shape_cases() {
    static const std::vector<ShapeCase> cases = {
        // C precedence and left association.
        {"a - b - c", "(SUB:9 (SUB:9 a b) c)"},
        {"a OR b AND c", "(LOGOR:9 a (LOGAND:9 b c))"},
        {"a & b == c", "(BINAND:9 a (EQ:9 b c))"},
        {"a || b && !c", "(LOGOR:9 a (LOGAND:9 b (LOGNOT:9 c)))"},
        {"~a ^ b | c", "(BINOR:9 (BINXOR:9 (BINNOT:9 a) b) c)"},
        {"a xor b", "(BINXOR:9 a b)"},
        {"a < b == c >= x", "(EQ:9 (LT:9 a b) (GE:9 c x))"},
        {"a <= b != c > x", "(NE:9 (LE:9 a b) (GT:9 c x))"},
        {"a * b + c % x / a", "(ADD:9 (MUL:9 a b) (DIV:9 (MOD:9 c x) a))"},
        {"a - (b - c)", "(SUB:9 a (SUB:9 b c))"},
        {"((a))", "a"},
        {"NOT a = b", "(EQ:9 (LOGNOT:9 a) b)"},
        {"not (a = b)", "(LOGNOT:9 (EQ:9 a b))"},
        // Every spelling of the comparisons.
        {"a <> b", "(NE:9 a b)"},
        {"a ^= b", "(NE:9 a b)"},
        {"a != b", "(NE:9 a b)"},
        {"a = b", "(EQ:9 a b)"},
        {"a == b", "(EQ:9 a b)"},
        {"a AND b", "(LOGAND:9 a b)"},
        {"a Or b", "(LOGOR:9 a b)"},
        // Casts.
        {"-(int)x", "(MINUS:9 (CAST:9 9 x))"},
        {"(int)-x", "(CAST:9 9 (MINUS:9 x))"},
        {"(unsigned int) x", "(CAST:9 9 x)"},
        {"(unsigned)x", "(CAST:9 9 x)"},
        {"(long) x", "(CAST:9 9 x)"},
        {"(double) x", "(CAST:14 14 x)"},
        {"(double)(int)Price", "(CAST:14 14 (CAST:9 9 Price))"},
        {"CAST(x AS DATE)", "(CAST:10 10 x)"},
        {"cast(Name, varchar)", "(CAST:15 15 Name)"},
        {"CAST(a + 1 as TimeStamp)", "(CAST:13 13 (ADD:9 a 1))"},
        // Unary operators keep the operand's type.
        {"+Price - 1", "(SUB:14 (PLUS:14 Price) 1)"},
        {"-Stamp", "(MINUS:13 Stamp)"},
        {"Price * 2", "(MUL:14 Price 2)"},
        {"Stamp + 1", "(ADD:14 Stamp 1)"},
        {"1 + 1.5", "(ADD:14 1 NUMBER)"},
        {"Name + 1", "(ADD:14 Name 1)"},
        // Functions.
        {"NOW", "(FUNCTION:13 47)"},
        {"NOW()", "(FUNCTION:13 47)"},
        {"pi", "(FUNCTION:14 51)"},
        {"ABS(-a)", "(FUNCTION:9 (ARGUMENT:1 (MINUS:9 a)) 0)"},
        {"LOCATE(Name, \"ab\", 2)", "(FUNCTION:9 (ARGUMENT:3 (ARGUMENT:2 (ARGUMENT:1 Name) 'ab') 2) 37)"},
        {"RAND()", "(FUNCTION:9 55)"},
        {"RAND(7)", "(FUNCTION:9 (ARGUMENT:1 7) 55)"},
        {"substring(Name, 2) = \"x\"", "(EQ:9 (FUNCTION:15 (ARGUMENT:2 (ARGUMENT:1 Name) 2) 72) 'x')"},
        {"ROWID() > 0", "(GT:9 (FUNCTION:14 84) 0)"},
        // Null tests, names and blanks.
        {"x IS NULL", "(ISNULL x)"},
        {"x is not null", "(NOTNULL x)"},
        {"Price IS NOT NULL AND a", "(LOGAND:9 (NOTNULL Price) a)"},
        {"[and] + note", "(ADD:9 and note)"},
        {"NOTE > [a-b]", "(GT:9 note a-b)"},
        {"[$NULFLD$]", "$NULFLD$"},
        {"Date > {d '2024-2-29'}", "(GT:9 Date DATE)"},
        {"a\t==\t1", "(EQ:9 a 1)"},
        {"a\n\r\f==\n1", "(EQ:9 a 1)"},
        {"Name = \"x\"", "(EQ:9 Name 'x')"},
        {"Born > '1-2-2020' AND At < '1:2:3'", "(LOGAND:9 (GT:9 Born DATE) (LT:9 At TIMEMS))"},
        {"Amount > 1 OR Big < 2 OR Qty = 3 OR Blob = \"\" OR Rest = Name",
         "(LOGOR:9 (LOGOR:9 (LOGOR:9 (LOGOR:9 (GT:9 Amount 1) (LT:9 Big 2)) (EQ:9 Qty 3)) (EQ:9 Blob '')) "
         "(EQ:9 Rest Name))"},
    };
    return cases;
}

const std::vector<LiteralCase> &literal_cases() {
    static const std::vector<LiteralCase> cases = {
        // Decimal and hexadecimal integers; ten digits make a NUMBER.
        {"123456789", "INTEGER 123456789"},
        {"1234567890", "NUMBER 1234567890"},
        {"000000007", "INTEGER 7"},
        {"0000000007", "NUMBER 7"},
        {"123u", "INTEGER 123"},
        {"0xFFFFFFFF", "INTEGER 4294967295"},
        {"0x1fU", "INTEGER 31"},
        // Character constants.
        {"'A'", "INTEGER 65"},
        {"' '", "INTEGER 32"},
        {"'\\0'", "INTEGER 48"},
        {"'\\x41'", "INTEGER 65"},
        {"'\\x4'", "INTEGER 4"},
        {"'\\x'", "INTEGER 120"},
        {"'\\n'", "INTEGER 10"},
        {"'\\N'", "INTEGER 10"},
        {"'\\a'", "INTEGER 7"},
        {"'\\q'", "INTEGER 113"},
        // Strings.
        {"\"a\\x41\\n\"", "TEXT 61 41 0a"},
        {"\"\"", "TEXT"},
        {"\"a\\0b\"", "TEXT 61 00 62"},
        {"\"\\xZq\"", "TEXT 71"},
        {"\"\\\"\\\\\\T\\x7\"", "TEXT 22 5c 09 07"},
        // Dates, times and date-times.
        {"{d '2024-2-29'}", "DATE 2024-2-29"},
        {"'2024/02/29'", "DATE 2024-2-29"},
        {"'2-29-2024'", "DATE 2024-2-29"},
        {"'29-feb-2024'", "DATE 2024-2-29"},
        {"{t '1:2:3'}", "TIME 3723"},
        {"'12:30:05:250'", "TIMEMS 45005250"},
        {"'1:2:3'", "TIMEMS 3723000"},
        {"'5-jan-2024 1:2:3'", "STAMP 2024-1-5 1:2:3"},
        {"{ts '2024-1-5 1:2:3'}", "STAMP 2024-1-5 1:2:3"},
        {"'2024-1-5  1:2:3:999'", "STAMP 2024-1-5 1:2:3"},
        // Decimal numbers.
        {".5", "NUMBER 0.5"},
        {"5.", "NUMBER 5"},
        {"1.5e3", "NUMBER 1500"},
        {"1.5E-2", "NUMBER 0.015"},
    };
    return cases;
}

const std::vector<BadCase> &bad_cases() {
    static const std::vector<BadCase> cases = {
        // Names: unknown, unreadable types, words, a dollar outside brackets.
        {"zz > 1", 1}, {"Ext > 1", 1}, {"Doc = 1", 1}, {"$x", 1}, {"and", 1}, {"a and", 1},
        {"[Unit Price] > 1", 1}, {"x.y", 1}, {"[]", 1}, {"[x", 1},
        // Functions and casts.
        {"PI(1)", 1}, {"NOW(1)", 1}, {"ABS()", 1}, {"ABS", 1}, {"LOCATE(a)", 1}, {"LOCATE(a, b, c, x)", 1},
        {"ABS(1,)", 1}, {"CAST(x AS FOO)", 1}, {"CAST(x AS INT)", 1}, {"CAST(x AS Price)", 1},
        {"CAST(x AS)", 1}, {"CAST x AS DATE", 1}, {"(double)", 1}, {"(unsigned double) x", 1},
        // Null tests take a field name only.
        {"(Price + 1) IS NULL", 1}, {"x = NULL", 1}, {"x IS", 1}, {"x IS NOT", 1}, {"x IS NOT 1", 1},
        {"x IS NULL IS NULL", 1}, {"1 IS NULL", 1},
        // Syntax.
        {"a b", 1}, {"(a", 1}, {"a)", 1}, {"", 1}, {"   ", 1}, {"1 +", 1}, {"a ==== b", 1}, {"a # b", 1},
        {"a ? b : c", 1}, {"-", 1}, {"!", 1}, {"a ,b", 1}, {"a = 'b", 1}, {"a @", 1},
        // Literals that do not convert or are not literals.
        {"'2023-02-30'", 1}, {"{d '2023-2-30'}", 1}, {"'25:00:00'", 1}, {"'1:2:3:1000'", 1},
        {"'1700-01-01'", 1}, {"{t '1:2:3:4'}", 1}, {"{d '2024-2-29'", 1}, {"{x '2024-2-29'}", 1},
        {"{d'2024-2-29'}", 1}, {"'ab'", 1}, {"\"abc", 1}, {"\"a\\x\"", 1}, {"'5-January-2024'", 1},
        {"1.0e999", 1}, {"0x", 1}, {"0x123456789", 1}, {"1e5", 1}, {"1.5e", 1},
        {std::string(200, '9'), 1}, {"1." + std::string(40, '0') + "e-999", 1},
    };
    return cases;
}

std::vector<std::string> good_texts() {
    std::vector<std::string> out;
    for (const ShapeCase &c : shape_cases()) out.push_back(c.text);
    for (const LiteralCase &c : literal_cases()) out.push_back(c.text);
    return out;
}

}  // namespace exprtest
