#pragma once
// The conformance table: whole programs in the compact text form, each with the value or failure
// code it must give. Rows marked "own rule" are where this interpreter deliberately departs from
// the usual scripting-language behaviour; every other row follows it. Family "editing" rows are
// loaded into event editing and run over the event "cycled" (kEditingEvent); their expected text
// is the output event and the created events. The fuzzer's seed corpus is made of these programs.
#include <string>

namespace interpreter_test {

struct Row {
    const char* family;
    const char* program;
    // The shown value, or "!" and the failure code.
    const char* expected;
};

inline const Row kRows[] = {
    // (a) conversions
    {"conversion", R"((0 "" 1e21))", "'1e+21'"},
    {"conversion", R"((0 "" 1e-7))", "'1e-7'"},
    {"conversion", R"((0 "" 0.000001))", "'0.000001'"},
    {"conversion", R"((0 "" -0))", "'0'"},
    {"conversion", R"((0 0.1 0.2))", "0.30000000000000004"},
    {"conversion", R"((0 "" 123456789012345680000))", "'123456789012345680000'"},
    {"conversion", R"((0 1 true))", "2"},
    {"conversion", R"((0 1 (45)))", "1"},
    {"conversion", R"((0 "" (44)))", "'undefined'"},
    {"conversion", R"((0 "" (7 1 (45) 2)))", "'1,,2'"},
    {"conversion", R"((37 " 12 " 0))", "12"},
    {"conversion", R"((37 "" 0))", "0"},
    {"conversion", R"((37 "1e3" 0))", "1000"},
    {"conversion", R"((37 "12px" 0))", "NaN"},
    {"conversion", R"((37 (7 5) 0))", "5"},
    {"own rule: a function converts to its name", R"((0 "" (51 "f" (7))))", "'f'"},
    {"own rule: no hexadecimal text", R"((37 "0x10" 0))", "NaN"},
    {"own rule: no octal text", R"((37 "0o7" 0))", "NaN"},
    {"own rule: no binary text", R"((37 "0b1" 0))", "NaN"},
    {"own rule: +Infinity is no number", R"((37 "+Infinity" 0))", "NaN"},
    // (b) operators and the equality matrix
    {"operator", R"((10 1 0))", "Infinity"},
    {"operator", R"((25 -5 3))", "-2"},
    {"operator", R"((61 -1 0))", "4294967295"},
    {"operator", R"((57 1 33))", "2"},
    {"operator", R"((23 "a" "b"))", "true"},
    {"operator", R"((23 NaN 1))", "false"},
    {"operator", R"((1 0 (3 "nowhere" 1)))", "0"},
    {"operator", R"((30 1 (3 "nowhere" 1)))", "1"},
    {"operator", R"((40 (7)))", "'object'"},
    {"equality", R"((12 (44) (45)))", "true"},
    {"equality", R"((20 (44) (45)))", "false"},
    {"equality", R"((12 "1" 1))", "true"},
    {"equality", R"((20 "1" 1))", "false"},
    {"equality", R"((12 0 ""))", "true"},
    {"equality", R"((12 (45) 0))", "false"},
    {"equality", R"((12 true "1"))", "true"},
    {"equality", R"((21 NaN NaN))", "true"},
    {"equality", R"((41 "a") (3 "a" (7)) (20 $a $a))", "true"},
    {"equality", R"((20 (7) (7)))", "false"},
    {"own rule: 32 passes its value through", R"((32 5 6))", "5"},
    {"own rule: 33 passes its value through", R"((33 "x" 6))", "'x'"},
    {"own rule: 34 passes its value through", R"((34 "x"))", "'x'"},
    {"own rule: 35 passes its value through", R"((35 7))", "7"},
    // (c) break, continue and return through switch, loops and functions
    {"control", R"((50 "f" (7) (64 "v" (7 1 2 3) (46 (22 (20 $v 2) (46 (36 $v)))))) (f))", "2"},
    {"control", R"((41 "i") (3 "i" 0) (42 true (3 "i" (0 $i 1)) false (46 (22 (20 $i 3) (46 (4))))) $i)",
     "3"},
    {"control", R"((41 "s") (3 "s" "") (64 "v" (7 1 2 3) (46 (22 (20 $v 2) (46 (6))) (3 "s" (0 $s $v)))) $s)",
     "'13'"},
    {"control", R"((41 "s") (3 "s" "") (38 1 (7 1 2) (46 (4) (3 "s" "b") (3 "s" "d"))) $s)", "''"},
    {"control", R"((41 "s") (3 "s" "") (38 2 (7 1 2) (46 (4) (3 "s" (0 $s "b")) (3 "s" (0 $s "d")))) $s)",
     "'bd'"},
    {"control", R"((50 "f" (7) (38 1 (7 1) (46 (36 "out"))) 9) (f))", "'out'"},
    {"control", R"((50 "f" (7 "a" "b") (36 (40 $b))) (f 1))", "'undefined'"},
    {"control", R"((50 "f" (7) 5) (f))", "5"},
    {"control", R"((50 "outer" (7 "x") (36 (51 "" (7) (36 $x)))) (41 "g") (3 "g" (outer 4)) (g))", "4"},
    {"own rule: no hoisting", R"((41 "r") (3 "r" (g)) (50 "g" (7) (36 1)) $r)", "undefined"},
    {"own rule: 41 resets a declared name", R"((41 "x") (3 "x" 5) (41 "x") $x)", "undefined"},
    {"own rule: a constant ignores writes", R"((52 "k" 1) (3 "k" 2) $k)", "1"},
    {"own rule: assigning an undeclared name fails", R"((3 "nowhere" 1))", "!2"},
    {"own rule: key loops give named properties first",
     R"((41 "a") (3 "a" (7 1)) (43 $a "n" 2) (41 "s") (3 "s" "") (47 "k" $a (46 (3 "s" (0 $s $k)))) $s)",
     "'n0'"},
    {"own rule: 01 is an index", R"((41 "a") (3 "a" (7 1 2)) (16 $a "01"))", "2"},
    // (d) string methods
    {"string", R"((2 "abc" "charAt" (7 1)))", "'b'"},
    {"string", R"((2 "a,b" "split" (7 ",")))", "['a'|'b']"},
    {"string", R"((2 "Abc" "toUpperCase" (7)))", "'ABC'"},
    {"string", R"((2 "abc" "padStart" (7)))", "!17"},
    {"own rule: indexOf of the empty text", R"((2 "abc" "indexOf" (7 "")))", "-1"},
    {"own rule: replace is plain text", R"((2 "a.b" "replace" (7 "." "$&")))", "'a$&b'"},
    {"own rule: match gives the whole match only", R"p((2 "a1b" "match" (7 "([a-z])([0-9])")))p", "['a1']"},
    {"own rule: split with limit NaN", R"((2 "a,b" "split" (7 "," NaN)))", "[]"},
    {"own rule: substring to Infinity", R"((2 "abc" "substring" (7 0 Infinity)))", "''"},
    {"own rule: slice to undefined", R"((2 "abc" "slice" (7 1 (44))))", "''"},
    // (e) array values and methods
    {"array", R"((41 "a") (3 "a" (7)) (43 $a 2 "x") (16 $a "length"))", "3"},
    {"array", R"((2 (7 3 1 2) "sort" (7)))", "[1|2|3]"},
    {"array", R"((2 (7 1 2 3) "reduceRight" (7 (51 "" (7 "acc" "v") (36 (0 $acc $v))) "")))", "'321'"},
    {"array", R"((2 (7 1 2 3) "filter" (7 (51 "" (7 "v") (36 (18 $v 1))))))", "[2|3]"},
    {"array", R"((2 (7 "a" "b" "c") "splice" (7 1 1 "x")))", "['b']"},
    {"array", R"((2 (7) "reduce" (7 (51 "" (7)))))", "!8"},
    {"array", R"((2 (7 5 6) "sort" (7 5)))", "!10"},
    {"array", R"((41 "a") (3 "a" (7)) (43 $a "push" (51 "" (7) (36 42))) (2 $a "push" (7 1)))", "42"},
    {"array", R"((41 "a") (3 "a" (7)) (43 $a 1 5) (2 $a "shift" (7)))", "undefined"},
    {"own rule: join(undefined) uses no separator", R"((2 (7 1 2) "join" (7 (44))))", "'12'"},
    {"own rule: map stops at the last element",
     R"((41 "a") (3 "a" (7 1)) (43 $a 2 3) (43 $a "length" 4) (2 $a "map" (7 (51 "" (7 "v") (36 $v)))))",
     "[1|_|3]"},
    {"own rule: splice(Infinity) starts at 0", R"((2 (7 "a" "b") "splice" (7 Infinity)))", "['a'|'b']"},
    {"own rule: callbacks take one argument", R"((2 (7 1) "forEach" (7 (51 "" (7)) 0)))", "!9"},
    // (f) budget and caps
    {"budget", R"((42 true 0 false (46)))", "!18"},
    {"budget", R"((50 "f" (7) (36 (f))) (f))", "!18"},
    {"budget", R"((41 "a") (3 "a" (7)) (43 $a "length" 4294967295))", "!18"},
    {"budget", R"((41 "a") (3 "a" (7 1)) (42 true 0 false (46 (3 "a" (2 $a "concat" (7 $a))))))", "!18"},
    {"budget", R"((41 "t") (3 "t" "ab") (42 true 0 false (46 (3 "t" (0 $t $t)))))", "!18"},
    {"cap", R"((41 "a") (3 "a" (7)) (43 $a "length" -1))", "!11"},
    // (g) event editing, over cycled@10{_c=1,f=1.5,value=3,x='t'}; "r" registers, "log" creates
    {"editing", R"((r 0 (51 "" (7 "e") (2 $e "setEventName" (7 "cycled_x")) 0) (8 "type" "edit")))",
     "cycled_x@10{_c=1,f=1.5,value=3,x='t'}"},
    {"editing", R"((r 0 (51 "" (7 "e") (2 $e "setEventName" (7 "y")) true) (8 "type" "edit")))",
     "cycled@10{_c=1,f=1.5,value=3,x='t'}"},
    {"editing", R"((r 0 (51 "" (7 "e") (2 $e "setEventName" (7 "y")) 2) (8 "type" "edit")))",
     "cycled@10{_c=1,f=1.5,value=3,x='t'}"},
    {"editing", R"((r 0 (51 "" (7 "e") (2 $e "setEventName" (7 "a")) 0) (8 "type" "edit" "priority" 5))
        (r 0 (51 "" (7 "e") (2 $e "setEventName" (7 (0 (2 $e "getEventName" (7)) "b"))) 1)
           (8 "type" "edit" "priority" 5)))",
     "ab@10{_c=1,f=1.5,value=3,x='t'}"},
    {"editing",
     R"((r 0 (51 "" (7 "e") (2 $e "setParamValue" (7 "_c" 5)) (2 $e "setParamValue" (7 "value" 2.5))
        (2 $e "setParamValue" (7 "f" 2.5)) (2 $e "setParamValue" (7 "x" 7)) (2 $e "setParamValue" (7 "_el" 3.9)) 0)
        (8 "type" "edit")))",
     "cycled@10{_c=1,_el=3,f=2.5,value=2,x='7'}"},
    {"editing", R"((r 0 (51 "" (7 "e") (2 $e "setParamValue" (7 "x" (45))) 0) (8 "type" "edit")))",
     "cycled@10{_c=1,f=1.5,value=3}"},
    {"editing", R"((r 0 (51 "" (7 "e") (2 $e "setParamValue" (7 "_el" Infinity))
        (2 $e "setParamValue" (7 "value" 1e300)) 0) (8 "type" "edit")))",
     "cycled@10{_c=1,_el=9223372036854775807,f=1.5,value=9223372036854775807,x='t'}"},
    {"editing",
     R"((r 0 (51 "" (7 "e") (log "extra" 12.7 (8 "_o" "fa" "value" 2.5 "none" (45)))) (8 "type" "create")))",
     "cycled@10{_c=1,f=1.5,value=3,x='t'} + extra@12{_o='fa',value=2}"},
    {"editing",
     R"((r 0 (51 "" (7 "e") (2 $e "setParamValue" (7 "all" (2 (2 $e "getParams" (7)) "hasOwnProperty"
        (7 "_c")))) (2 $e "setParamValue" (7 "at" (2 $e "getTimestamp" (7)))) 0) (8 "type" "edit")))",
     "cycled@10{_c=1,all=1.0,at=10.0,f=1.5,value=3,x='t'}"},
    {"editing", R"((r 0 (51 "" (7 "e") 0) (8 "priority" 1)))", "!2"},
    {"editing", R"((r 0 (51 "" (7 "e") 0) (8 "type" "delete")))", "!3"},
    {"editing",
     R"((41 "i") (3 "i" 0) (42 (23 $i 1001) (3 "i" (0 $i 1)) false (46 (r 0 (51 "" (7)) (8 "type" "edit")))))",
     "!4"},
    {"editing", R"((36 1))", "!5"},
    {"editing",
     R"((50 "down" (7 "n") (36 (down (0 $n 1)))) (r 0 (51 "" (7 "e") (down 0)) (8 "type" "edit")))", "!18"},
    {"editing", R"((r 0 (51 "" (7 "e") (2 $e "getEventName" (7 1))) (8 "type" "edit")))", "!9"},
    {"editing", R"((r 0 (51 "" (7 "e") (2 $e "setEventName" (7 (45)))) (8 "type" "edit")))", "!10"},
    {"editing", R"((r 0 (51 "" (7 "e") (log "x" 1 5)) (8 "type" "create")))", "!10"},
};

// Family "editing": bound before each row's program.
inline constexpr const char* kEditingPrelude =
    R"((41 "r") (3 "r" (require "internal.registerCallback")) (41 "log") (3 "log" (require "internal.eventLogger")) )";

inline bool isEditingRow(const Row& row) {
    return std::string(row.family) == "editing";
}

// The whole program of a row as loaded.
inline std::string programOf(const Row& row) {
    return isEditingRow(row) ? kEditingPrelude + std::string(row.program) : row.program;
}

}  // namespace interpreter_test
