#include "io/step/step_file.hpp"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string errorOf(const std::string& text) {
    StepFile f = parseStepFile(text);
    EXPECT_FALSE(f.ok) << text;
    return f.error;
}

std::string at(const std::string& message, size_t offset) {
    return message + " (at offset " + std::to_string(offset) + ")";
}

TEST(StepParser, EmptyDataSectionWithOrWithoutSemicolons) {
    for (const char* text : {"DATA;ENDSEC;", "DATA ENDSEC", "  DATA\n;\n/* nothing */ ENDSEC ; trailing"}) {
        StepFile f = parseStepFile(text);
        EXPECT_TRUE(f.ok) << text;
        EXPECT_EQ(f.error, "");
        EXPECT_TRUE(f.instances.empty());
    }
}

TEST(StepParser, HeaderStatementsAreSkippedEvenWhenTheyMentionData) {
    const std::string text =
        "ISO-10303-21;\nHEADER;\n"
        "FILE_DESCRIPTION(('DATA; is not here', 'it''s DATA;'),'2;1');\n"
        "/* DATA; in a comment */\n"
        "DATAX;\n"
        "FILE_NAME(/* ' */ 'DATA;');\n"
        "ENDSEC;\nDATA;\n#1=A();\nENDSEC;\n";
    StepFile f = parseStepFile(text);
    ASSERT_TRUE(f.ok) << f.error;
    ASSERT_EQ(f.instances.size(), 1u);
    EXPECT_EQ(f.instances.at(1).type, "A");
}

TEST(StepParser, MissingDataSectionHasNoOffset) {
    const std::string message = "no DATA section found (expected a 'DATA;' marker)";
    EXPECT_EQ(errorOf(""), message);
    EXPECT_EQ(errorOf("ISO-10303-21;\nHEADER;\nFILE_NAME('DATA;');\nENDSEC;\n"), message);
    EXPECT_EQ(errorOf("/* DATA; */ data; Data;"), message);
    // A string that never closes swallows the rest of the text.
    EXPECT_EQ(errorOf("X('abc;\nDATA;ENDSEC;"), message);
}

TEST(StepParser, PointInstanceWithEveryNumberForm) {
    StepFile f = parseStepFile("DATA;\n#12=CARTESIAN_POINT('',(0.,1.5,-2.E-3));\nENDSEC;");
    ASSERT_TRUE(f.ok) << f.error;
    const StepEntity& e = f.instances.at(12);
    EXPECT_EQ(e.type, "CARTESIAN_POINT");
    EXPECT_TRUE(e.parts.empty());
    ASSERT_EQ(e.params.size(), 2u);
    EXPECT_EQ(e.params[0].kind, StepValueKind::String);
    EXPECT_EQ(e.params[0].text, "");
    ASSERT_EQ(e.params[1].kind, StepValueKind::List);
    ASSERT_EQ(e.params[1].items.size(), 3u);
    for (const StepValue& v : e.params[1].items) EXPECT_EQ(v.kind, StepValueKind::Number);
    EXPECT_EQ(e.params[1].items[0].number, 0.0);
    EXPECT_EQ(e.params[1].items[1].number, 1.5);
    EXPECT_EQ(e.params[1].items[2].number, -2.0e-3);
}

TEST(StepParser, EveryValueKind) {
    StepFile f = parseStepFile(
        "DATA;#3 = X ( /*c*/ 1 /*d*/ ,-2.5E+2,'it''s',.UNSPECIFIED.,#12,$,*,(1,(2)),Y((3)),'',+4,1E,1.,-.5,\n"
        "  Z_2 ( ) ,'a\"b') /*e*/ ;ENDSEC;");
    ASSERT_TRUE(f.ok) << f.error;
    const std::vector<StepValue>& p = f.instances.at(3).params;
    ASSERT_EQ(p.size(), 16u);
    EXPECT_EQ(p[0].kind, StepValueKind::Number);
    EXPECT_EQ(p[0].number, 1.0);
    EXPECT_EQ(p[1].number, -250.0);
    EXPECT_EQ(p[2].kind, StepValueKind::String);
    EXPECT_EQ(p[2].text, "it's");
    EXPECT_EQ(p[3].kind, StepValueKind::Enumeration);
    EXPECT_EQ(p[3].text, "UNSPECIFIED");
    EXPECT_EQ(p[4].kind, StepValueKind::Reference);
    EXPECT_EQ(p[4].ref, 12);
    EXPECT_EQ(p[5].kind, StepValueKind::Omitted);
    EXPECT_EQ(p[6].kind, StepValueKind::Omitted);
    ASSERT_EQ(p[7].kind, StepValueKind::List);
    ASSERT_EQ(p[7].items.size(), 2u);
    EXPECT_EQ(p[7].items[0].number, 1.0);
    ASSERT_EQ(p[7].items[1].kind, StepValueKind::List);
    EXPECT_EQ(p[7].items[1].items.at(0).number, 2.0);
    ASSERT_EQ(p[8].kind, StepValueKind::Typed);
    EXPECT_EQ(p[8].text, "Y");
    ASSERT_EQ(p[8].items.size(), 1u);
    EXPECT_EQ(p[8].items[0].kind, StepValueKind::List);
    EXPECT_EQ(p[9].kind, StepValueKind::String);
    EXPECT_EQ(p[9].text, "");
    EXPECT_EQ(p[10].number, 4.0);
    EXPECT_EQ(p[11].number, 1.0);  // "1E": the leading part converts
    EXPECT_EQ(p[12].number, 1.0);
    EXPECT_EQ(p[13].number, -0.5);
    EXPECT_EQ(p[14].kind, StepValueKind::Typed);
    EXPECT_EQ(p[14].text, "Z_2");
    EXPECT_TRUE(p[14].items.empty());
    EXPECT_EQ(p[15].text, "a\"b");
}

TEST(StepParser, TypedValueKeepsItsParameters) {
    StepFile f = parseStepFile("DATA;#7=A(B(1.0));ENDSEC;");
    ASSERT_TRUE(f.ok);
    const StepValue& v = f.instances.at(7).params.at(0);
    EXPECT_EQ(v.kind, StepValueKind::Typed);
    EXPECT_EQ(v.text, "B");
    ASSERT_EQ(v.items.size(), 1u);
    EXPECT_EQ(v.items[0].kind, StepValueKind::Number);
    EXPECT_EQ(v.items[0].number, 1.0);
}

TEST(StepParser, ComplexInstanceKeepsItsPartsInOrder) {
    StepFile f = parseStepFile("DATA;#5=(LENGTH_UNIT()NAMED_UNIT(*)SI_UNIT(.MILLI.,.METRE.));#6=( );ENDSEC;");
    ASSERT_TRUE(f.ok) << f.error;
    const StepEntity& e = f.instances.at(5);
    EXPECT_EQ(e.type, "");
    EXPECT_TRUE(e.params.empty());
    ASSERT_EQ(e.parts.size(), 3u);
    EXPECT_EQ(e.parts[0].type, "LENGTH_UNIT");
    EXPECT_TRUE(e.parts[0].params.empty());
    EXPECT_EQ(e.parts[1].type, "NAMED_UNIT");
    ASSERT_EQ(e.parts[1].params.size(), 1u);
    EXPECT_EQ(e.parts[1].params[0].kind, StepValueKind::Omitted);
    EXPECT_EQ(e.parts[2].type, "SI_UNIT");
    ASSERT_EQ(e.parts[2].params.size(), 2u);
    EXPECT_EQ(e.parts[2].params[0].text, "MILLI");
    EXPECT_EQ(e.parts[2].params[1].text, "METRE");
    for (const StepEntity& part : e.parts) EXPECT_TRUE(part.parts.empty());
    EXPECT_TRUE(f.instances.at(6).parts.empty());
}

TEST(StepParser, InstancesIterateInAscendingNumberAndLaterDuplicatesWin) {
    StepFile f = parseStepFile("DATA;#30=C(1);#2=B();#30=(P(2)Q());#10=A('x');#2=D(#30);ENDSEC;");
    ASSERT_TRUE(f.ok);
    std::vector<int64_t> ids;
    for (const auto& e : f.instances) ids.push_back(e.first);
    EXPECT_EQ(ids, (std::vector<int64_t>{2, 10, 30}));
    EXPECT_EQ(f.instances.at(2).type, "D");
    EXPECT_EQ(f.instances.at(2).params.at(0).ref, 30);
    // The complex record replaced the simple one completely.
    EXPECT_EQ(f.instances.at(30).type, "");
    EXPECT_TRUE(f.instances.at(30).params.empty());
    EXPECT_EQ(f.instances.at(30).parts.size(), 2u);
}

TEST(StepParser, TextAfterEndsecIsNotRead) {
    StepFile f = parseStepFile("DATA;#1=A();ENDSEC; garbage ((( 'open\nDATA;#2=B();ENDSEC;");
    ASSERT_TRUE(f.ok);
    EXPECT_EQ(f.instances.size(), 1u);
}

TEST(StepParser, DataSectionMessagesAndOffsets) {
    const std::string d = "DATA;";  // every instance below starts at offset 5
    EXPECT_EQ(errorOf(d + "#1=A(1,);"), at("unexpected character ')' where a value was expected", 5 + 7));
    EXPECT_EQ(errorOf(d + "#1=A(,1);"), at("unexpected character ',' where a value was expected", 5 + 5));
    EXPECT_EQ(errorOf(d + "#1=A(1)"), at("expected ';' after instance #1", 12));
    EXPECT_EQ(errorOf(d + "#1=A(1) #2=B();"), at("expected ';' after instance #1", 13));
    EXPECT_EQ(errorOf(d + "#1=A();"), at("unexpected end of input in DATA section (no ENDSEC)", 12));
    EXPECT_EQ(errorOf(d + "FOO;"), at("unexpected keyword 'FOO' in DATA section", 8));
    EXPECT_EQ(errorOf(d + "@"), at("unexpected character '@' in DATA section", 5));
    EXPECT_EQ(errorOf(d + "#=A();"), at("expected an id after '#'", 6));
    EXPECT_EQ(errorOf(d + "#1 A();"), at("expected '=' after #id", 8));
    EXPECT_EQ(errorOf(d + "#1=(A() 'x');"), at("expected a type name in complex instance", 13));
    EXPECT_EQ(errorOf(d + "#1=(A()"), at("expected a type name in complex instance", 12));
    EXPECT_EQ(errorOf(d + "#1=;"), at("expected an entity type name", 8));
    EXPECT_EQ(errorOf(d + "#1=A;"), at("expected '('", 9));
    EXPECT_EQ(errorOf(d + "#1=A(1 2);"), at("expected ',' or ')' in list", 12));
    EXPECT_EQ(errorOf(d + "#1=A(1"), at("expected ',' or ')' in list", 11));
    EXPECT_EQ(errorOf(d + "#1=A("), at("unexpected end of input where a value was expected", 10));
    EXPECT_EQ(errorOf(d + "#1=A(#x);"), at("expected digits after '#'", 11));
    EXPECT_EQ(errorOf(d + "#1=A('abc);"), at("unterminated string literal", 16));
    EXPECT_EQ(errorOf(d + "#1=A(.T);"), at("unterminated .enumeration.", 14));
    EXPECT_EQ(errorOf(d + "#1=A(-e5);"), at("malformed number", 13));
    EXPECT_EQ(errorOf(d + "#1=A(+);"), at("malformed number", 11));
    EXPECT_EQ(errorOf(d + "#1=A(B 1);"), at("expected '(' after typed value 'B'", 12));
    EXPECT_EQ(errorOf(d + "#1=A(\"x\");"), at("unexpected character '\"' where a value was expected", 10));
}

TEST(StepParser, OnlyTheFirstFailureIsReportedAndEarlierInstancesStay) {
    StepFile f = parseStepFile("DATA;#1=A();#2=B(;#3=C();ENDSEC;");
    EXPECT_FALSE(f.ok);
    EXPECT_EQ(f.error, at("unexpected character ';' where a value was expected", 17));
    ASSERT_EQ(f.instances.size(), 1u);
    EXPECT_EQ(f.instances.count(1), 1u);
}

TEST(StepParser, InstanceNumbersBeyondSixtyFourBitsFail) {
    EXPECT_EQ(errorOf("DATA;#9223372036854775808=A();ENDSEC;"), at("instance number too large", 24));
    EXPECT_EQ(errorOf("DATA;#1=A(#99999999999999999999);ENDSEC;"), at("instance number too large", 29));
    StepFile f = parseStepFile("DATA;#9223372036854775807=A(#9223372036854775807);ENDSEC;");
    ASSERT_TRUE(f.ok);
    EXPECT_EQ(f.instances.at(INT64_MAX).params.at(0).ref, INT64_MAX);
}

TEST(StepParser, NestingIsBoundedInsteadOfExhaustingTheStack) {
    auto nested = [](int depth, const std::string& open) {
        std::string s = "DATA;#1=A";
        for (int i = 0; i < depth; ++i) s += open;
        for (int i = 0; i < depth; ++i) s += ")";
        return s + ";ENDSEC;";
    };
    // The instance's own parameter list counts as the first level.
    EXPECT_TRUE(parseStepFile(nested(kMaxStepNesting, "(")).ok);
    std::string tooDeep = nested(kMaxStepNesting + 1, "(");
    EXPECT_EQ(errorOf(tooDeep), at("parameter lists nested too deeply (more than 256 levels)", 9 + kMaxStepNesting));
    // Typed values nest the same way, and a hostile million levels fails quickly.
    EXPECT_TRUE(parseStepFile(nested(kMaxStepNesting, "B(")).ok);
    EXPECT_FALSE(parseStepFile(nested(kMaxStepNesting + 1, "B(")).ok);
    EXPECT_FALSE(parseStepFile(nested(1000000, "(")).ok);
}

TEST(StepParser, EveryPrefixOfAFileFailsCleanlyUntilEndsecIsRead) {
    const std::string text =
        "ISO-10303-21;HEADER;FILE_NAME('a;b',/*;*/'');ENDSEC;\nDATA;\n"
        "#1=CARTESIAN_POINT('it''s',(1.,-2.5E-1,+3));\n#2=(A(.T.)B(*,$,#1));\n#3=C(D((1,2)),'');\nENDSEC;\n";
    const size_t endsecEnd = text.rfind("ENDSEC") + 6;
    for (size_t len = 0; len <= text.size(); ++len) {
        StepFile f = parseStepFile(text.substr(0, len));
        if (len >= endsecEnd) {
            EXPECT_TRUE(f.ok) << len;
            EXPECT_EQ(f.instances.size(), 3u);
        } else {
            EXPECT_FALSE(f.ok) << len;
            EXPECT_FALSE(f.error.empty()) << len;
        }
    }
}

}  // namespace
