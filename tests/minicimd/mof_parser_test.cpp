// MOF front end: the DMTF subset parses as written; every literal form reads
// back exactly; bad input gets one precise message with file:line:column.
#include "mof/MofParser.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <unistd.h>

using namespace minicimd::mof;

namespace {

Compilation parse(const std::string& text)
{
    Compilation c;
    MofParser::parseText(text, "t.mof", c);
    return c;
}

// The full message of the error `text` raises ("" if it parses).
std::string errorOf(const std::string& text)
{
    try {
        parse(text);
    } catch (const MofError& e) {
        return e.what();
    }
    return "";
}

const ClassDecl* findClass(const Compilation& c, const std::string& name)
{
    for (const auto& k : c.classes)
        if (k.name == name) return &k;
    return nullptr;
}

const QualifierUse* findQual(const std::vector<QualifierUse>& qs, const std::string& name)
{
    for (const auto& q : qs)
        if (q.name == name) return &q;
    return nullptr;
}

class TempDir {
public:
    TempDir()
    {
        char tmpl[] = "/tmp/mofdirXXXXXX";
        path_ = mkdtemp(tmpl);
    }
    ~TempDir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
    std::string write(const std::string& name, const std::string& text) const
    {
        std::string p = path_ + "/" + name;
        std::ofstream(p) << text;
        return p;
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

}  // namespace

TEST(MofParser, LoadsTheDmtfSubsetUnmodified)
{
    Compilation c;
    MofParser::parseFile(std::string(ORV_DMTF_DIR) + "/schema.mof", c, "root/cimv2");
    EXPECT_EQ(c.files.size(), 32u);  // schema.mof, the two qualifier files and 29 classes
    EXPECT_EQ(c.classes.size(), 29u);
    EXPECT_GT(c.qualifiers.size(), 60u);
    EXPECT_TRUE(c.warnings.empty());

    const ClassDecl* me = findClass(c, "CIM_ManagedElement");
    ASSERT_NE(me, nullptr);
    EXPECT_EQ(me->superClass, "");
    EXPECT_NE(findQual(me->qualifiers, "Abstract"), nullptr);
    EXPECT_FALSE(findQual(me->qualifiers, "Abstract")->value.has_value());  // bare name means true
    EXPECT_EQ(me->properties.size(), 4u);
    EXPECT_EQ(me->nameSpace, "root/cimv2");

    const ClassDecl* job = findClass(c, "CIM_Job");
    ASSERT_NE(job, nullptr);
    bool sawRunTimes = false;
    for (const auto& p : job->properties) {
        if (p.name == "JobRunTimes") {
            sawRunTimes = true;
            ASSERT_TRUE(p.defaultValue.has_value());
            EXPECT_EQ(p.defaultValue->items[0].kind, LiteralKind::Integer);
            EXPECT_EQ(p.defaultValue->items[0].magnitude, 1u);
            EXPECT_EQ(p.type, DataType::Uint32);
        }
    }
    EXPECT_TRUE(sawRunTimes);

    const ClassDecl* comp = findClass(c, "CIM_Component");
    ASSERT_NE(comp, nullptr);
    EXPECT_NE(findQual(comp->qualifiers, "Association"), nullptr);
    ASSERT_EQ(comp->properties.size(), 2u);
    EXPECT_EQ(comp->properties[0].type, DataType::Reference);
    EXPECT_EQ(comp->properties[0].refClass, "CIM_ManagedElement");

    // A qualifier declaration keeps type, default, scope and flavors.
    const QualifierDecl* key = nullptr;
    for (const auto& q : c.qualifiers)
        if (q.name == "Key") key = &q;
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->type, DataType::Boolean);
    EXPECT_EQ(key->scopes, uint32_t(ScopeProperty | ScopeReference));
    EXPECT_EQ(key->flavors.overridable, std::optional<bool>(false));
    EXPECT_EQ(key->flavors.toSubclass, std::optional<bool>(true));

    // Methods with array and reference parameters survive (CIM_ConcreteJob.GetError).
    const ClassDecl* cj = findClass(c, "CIM_ConcreteJob");
    ASSERT_NE(cj, nullptr);
    bool sawGetErrors = false;
    for (const auto& m : cj->methods) {
        if (m.name == "GetErrors") {
            sawGetErrors = true;
            ASSERT_EQ(m.parameters.size(), 1u);
            EXPECT_TRUE(m.parameters[0].isArray);
            EXPECT_EQ(m.parameters[0].type, DataType::String);
        }
    }
    EXPECT_TRUE(sawGetErrors);
}

TEST(MofParser, EveryLiteralForm)
{
    Compilation c = parse(R"MOF(
        instance of X as $first {
            S = "a\tb\"c\\" "d" "\x41\X263a";
            C = '\n'; D = 'q'; U = 'é';
            Dec = 42; Neg = -17; Plus = +5;
            Hex = 0x1F; NegHex = -0XfF; Oct = 017; Bin = 101b; BinB = 1B;
            Zero = 0;
            R1 = 1.5; R2 = -0.25e2; R3 = .5; R4 = 3.0E-2;
            T = TRUE; F = false; N = null;
            Arr = {1, 2, 3}; Empty = {}; Strs = {"x" "y", "z"};
            Big = 18446744073709551615; Min = -9223372036854775808;
        };
        instance of Y { R = $first; Rs = {$first, $first}; };
    )MOF");
    ASSERT_EQ(c.instances.size(), 2u);
    const auto& p = c.instances[0].properties;
    auto lit = [&](const char* n) -> const Literal& {
        for (const auto& x : p)
            if (x.name == n) return x.value.items[0];
        throw std::runtime_error(n);
    };
    auto val = [&](const char* n) -> const Value& {
        for (const auto& x : p)
            if (x.name == n) return x.value;
        throw std::runtime_error(n);
    };
    EXPECT_EQ(c.instances[0].alias, "first");
    EXPECT_EQ(lit("S").text, "a\tb\"c\\dA\xE2\x98\xBA");
    EXPECT_EQ(lit("C").char16, '\n');
    EXPECT_EQ(lit("D").char16, 'q');
    EXPECT_EQ(lit("U").char16, 0xE9);
    EXPECT_EQ(lit("Dec").magnitude, 42u);
    EXPECT_TRUE(lit("Neg").negative);
    EXPECT_EQ(lit("Neg").magnitude, 17u);
    EXPECT_FALSE(lit("Plus").negative);
    EXPECT_EQ(lit("Hex").magnitude, 31u);
    EXPECT_TRUE(lit("NegHex").negative);
    EXPECT_EQ(lit("NegHex").magnitude, 255u);
    EXPECT_EQ(lit("Oct").magnitude, 15u);
    EXPECT_EQ(lit("Bin").magnitude, 5u);
    EXPECT_EQ(lit("BinB").magnitude, 1u);
    EXPECT_EQ(lit("Zero").magnitude, 0u);
    EXPECT_EQ(lit("R1").kind, LiteralKind::Real);
    EXPECT_DOUBLE_EQ(lit("R1").realValue, 1.5);
    EXPECT_DOUBLE_EQ(lit("R2").realValue, -25.0);
    EXPECT_DOUBLE_EQ(lit("R3").realValue, 0.5);
    EXPECT_DOUBLE_EQ(lit("R4").realValue, 0.03);
    EXPECT_TRUE(lit("T").boolValue);
    EXPECT_EQ(lit("F").kind, LiteralKind::Boolean);
    EXPECT_FALSE(lit("F").boolValue);
    EXPECT_EQ(lit("N").kind, LiteralKind::Null);
    EXPECT_TRUE(val("Arr").isArray);
    EXPECT_EQ(val("Arr").items.size(), 3u);
    EXPECT_TRUE(val("Empty").isArray);
    EXPECT_TRUE(val("Empty").items.empty());
    EXPECT_EQ(val("Strs").items[0].text, "xy");
    EXPECT_EQ(lit("Big").magnitude, UINT64_MAX);
    EXPECT_EQ(lit("Min").magnitude, 9223372036854775808ull);
    const auto& y = c.instances[1].properties;
    EXPECT_EQ(y[0].value.items[0].kind, LiteralKind::AliasRef);
    EXPECT_EQ(y[0].value.items[0].text, "first");
    EXPECT_EQ(y[1].value.items.size(), 2u);
}

TEST(MofParser, ClassFeaturesAndFlavors)
{
    Compilation c = parse(R"MOF(
        // line comment
        /* block
           comment */
        Qualifier Key : boolean = false, Scope(property, reference), Flavor(DisableOverride, ToSubclass);
        Qualifier Values : string[], Scope(property, method, parameter), Flavor(Translatable);
        Qualifier MaxLen : uint32 = null, Scope(property, method, parameter);
        [Association, Description("links") : Restricted EnableOverride]
        class T_Link : T_Base {
            [Key] T_Base REF Left;
            T_Base ref Right = "T_Base.Name=\"x\"";
            uint8 Fixed[4] = {1, 2, 3, 4};
            string Var[];
            [Values {"a", "b"}] uint16 Mode = 2;
            uint32 Go([In] string Names[], [IN(false), Out] T_Base REF Where, datetime When);
            boolean Stop();
        };
    )MOF");
    ASSERT_EQ(c.qualifiers.size(), 3u);
    EXPECT_TRUE(c.qualifiers[1].isArray);
    EXPECT_FALSE(c.qualifiers[1].defaultValue.has_value());
    EXPECT_TRUE(c.qualifiers[1].flavors.translatable);
    EXPECT_TRUE(c.qualifiers[2].defaultValue->isNullScalar());
    ASSERT_EQ(c.classes.size(), 1u);
    const ClassDecl& k = c.classes[0];
    EXPECT_EQ(k.superClass, "T_Base");
    const QualifierUse* d = findQual(k.qualifiers, "Description");
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->flavors.toSubclass, std::optional<bool>(false));
    EXPECT_EQ(d->flavors.overridable, std::optional<bool>(true));
    ASSERT_EQ(k.properties.size(), 5u);
    EXPECT_EQ(k.properties[1].defaultValue->items[0].text, "T_Base.Name=\"x\"");
    EXPECT_EQ(k.properties[2].arraySize, 4u);
    EXPECT_TRUE(k.properties[3].isArray);
    EXPECT_EQ(k.properties[3].arraySize, 0u);
    EXPECT_TRUE(findQual(k.properties[4].qualifiers, "Values")->value->isArray);
    ASSERT_EQ(k.methods.size(), 2u);
    EXPECT_EQ(k.methods[0].parameters.size(), 3u);
    EXPECT_TRUE(k.methods[0].parameters[0].isArray);
    EXPECT_EQ(k.methods[0].parameters[1].type, DataType::Reference);
    EXPECT_EQ(k.methods[0].parameters[1].refClass, "T_Base");
    EXPECT_EQ(k.methods[0].parameters[2].type, DataType::Datetime);
    EXPECT_EQ(k.methods[1].returnType, DataType::Boolean);
}

TEST(MofParser, HostileInputGetsPreciseErrors)
{
    EXPECT_EQ(errorOf("class A {\n  string S = \"abc\n};"), "t.mof:2:14: unterminated string");
    EXPECT_EQ(errorOf("/* never closed"), "t.mof:1:1: unterminated comment");
    EXPECT_EQ(errorOf("class A { uint8 X = 12ab; };"),
              "t.mof:1:21: invalid number '12ab': unexpected character 'a'");
    EXPECT_EQ(errorOf("class A { uint8 X = 09; };"), "t.mof:1:21: invalid number '09': unexpected digit '9'");
    EXPECT_EQ(errorOf("class A { uint64 X = 18446744073709551616; };"),
              "t.mof:1:22: invalid number '18446744073709551616': out of the 64-bit range");
    EXPECT_EQ(errorOf("class A { string S }"), "t.mof:1:20: expected ';' after property 'S', found '}'");
    EXPECT_EQ(errorOf("class A { string S; }"),
              "t.mof:1:22: expected ';' after the class body, found end of file");
    EXPECT_EQ(errorOf("class A {\n string S;"),
              "t.mof:2:11: expected '}' to close class 'A', found end of file");
    EXPECT_EQ(errorOf("class A { strin S; };"),
              "t.mof:1:11: unknown data type 'strin' (a reference is written 'ClassName REF name')");
    EXPECT_EQ(errorOf("class A { string S; uint8 s; };"), "t.mof:1:27: 's' declared twice in class 'A'");
    EXPECT_EQ(errorOf("instance of A { X = 1; x = 2; };"), "t.mof:1:24: property 'x' given twice");
    EXPECT_EQ(errorOf("[Key, key] class A {};"), "t.mof:1:7: qualifier 'key' given twice");
    EXPECT_EQ(errorOf("[Key : ToSubclass Restricted] class A {};"),
              "t.mof:1:19: conflicting flavors ToSubclass and Restricted");
    EXPECT_EQ(errorOf("Qualifier Q : boolean, Scope(nowhere);"), "t.mof:1:30: unknown scope 'nowhere'");
    EXPECT_EQ(errorOf("instance of A { C = 'ab'; };"),
              "t.mof:1:21: char16 literal must hold exactly one character");
    EXPECT_EQ(errorOf("instance of A { C = ''; };"), "t.mof:1:22: empty char16 literal");
    EXPECT_EQ(errorOf("instance of A { S = \"\\q\"; };"), "t.mof:1:22: unknown escape sequence '\\q'");
    EXPECT_EQ(errorOf("instance of A { S = \"\\x\"; };"),
              "t.mof:1:22: escape '\\x' needs 1 to 4 hexadecimal digits");
    EXPECT_EQ(errorOf("instance of A { S = \"\xC3\x28\"; };"), "t.mof:1:22: invalid UTF-8 sequence");
    EXPECT_EQ(errorOf("instance of A as $a {X=1;}; instance of A as $a {X=2;};"),
              "t.mof:1:46: alias '$a' already defined at t.mof:1:1");
    EXPECT_EQ(errorOf("instance of A { X = ; };"), "t.mof:1:21: expected a value, found ';'");
    EXPECT_EQ(errorOf("class A { uint8 X[0]; };"), "t.mof:1:19: array size must be a positive 32-bit number");
    EXPECT_EQ(errorOf("garbage"),
              "t.mof:1:1: expected 'class', 'instance', 'qualifier' or '#pragma', found 'garbage'");
    EXPECT_EQ(errorOf("class A { @ };"), "t.mof:1:11: unexpected character '@'");
    EXPECT_EQ(errorOf(std::string("class A {\x01};")), "t.mof:1:10: unexpected control character 0x01");
    EXPECT_EQ(errorOf(std::string("class A {\0};", 12)), "t.mof:1:10: NUL character in source");
    EXPECT_EQ(errorOf("#pragma include (\"nowhere/missing.mof\")"),
              "t.mof:1:18: cannot open './nowhere/missing.mof': No such file or directory");
    EXPECT_EQ(errorOf("class A { uint32 F() = 3; };"),
              "t.mof:1:22: expected ';' after the method declaration, found '='");
    // A long run of garbage stays one clear error, not a crash or a deep recursion.
    EXPECT_EQ(errorOf(std::string(100000, '[')), "t.mof:1:2: expected a qualifier name, found '['");
    EXPECT_EQ(errorOf(std::string(100000, '{')),
              "t.mof:1:1: expected 'class', 'instance', 'qualifier' or '#pragma', found '{'");
}

TEST(MofParser, IncludesAreRelativeToTheIncludingFileAndBounded)
{
    TempDir d;
    std::system(("mkdir -p '" + d.path() + "/sub'").c_str());
    d.write("sub/inner.mof", "#pragma namespace(\"root/inner\")\nclass Inner {};\n");
    d.write("sub/mid.mof", "#pragma include (\"inner.mof\")\nclass Mid {};\n");
    std::string top = d.write("top.mof", "#pragma include (\"sub/mid.mof\")\nclass Top {};\n");
    Compilation c;
    MofParser::parseFile(top, c, "root/default");
    ASSERT_EQ(c.classes.size(), 3u);
    EXPECT_EQ(c.classes[0].name, "Inner");
    EXPECT_EQ(c.classes[0].nameSpace, "root/inner");
    EXPECT_EQ(c.classes[1].nameSpace, "root/default");  // the pragma ended with its file
    EXPECT_EQ(c.classes[2].nameSpace, "root/default");

    // An error inside an included file names that file.
    std::string bad = d.write("bad.mof", "#pragma include (\"sub/broken.mof\")\n");
    d.write("sub/broken.mof", "class B {\n  uint8 X = 1.;\n};\n");
    Compilation c2;
    try {
        MofParser::parseFile(bad, c2);
        FAIL() << "no error";
    } catch (const MofError& e) {
        EXPECT_EQ(
            std::string(e.what()),
            d.path() + "/sub/broken.mof:2:13: invalid number '1.': a digit must follow the decimal point");
        EXPECT_EQ(e.pos().line, 2u);
    }

    // Cycles are caught by path.
    std::string cyc = d.write("cyc.mof", "#pragma include (\"cyc.mof\")\n");
    Compilation c3;
    try {
        MofParser::parseFile(cyc, c3);
        FAIL() << "no error";
    } catch (const MofError& e) {
        EXPECT_EQ(std::string(e.what()), cyc + ":1:18: '" + d.path() + "/cyc.mof' includes itself");
    }

    // Depth limit: a chain of distinct files deeper than the limit.
    for (unsigned i = 0; i <= MofParser::kMaxIncludeDepth; ++i)
        d.write("chain" + std::to_string(i) + ".mof",
                "#pragma include (\"chain" + std::to_string(i + 1) + ".mof\")\n");
    d.write("chain" + std::to_string(MofParser::kMaxIncludeDepth + 1) + ".mof", "class End {};\n");
    Compilation c4;
    try {
        MofParser::parseFile(d.path() + "/chain0.mof", c4);
        FAIL() << "no error";
    } catch (const MofError& e) {
        EXPECT_NE(std::string(e.what()).find("includes nested deeper than 16 levels"), std::string::npos);
    }

    // A directory or a missing file given directly.
    Compilation c5;
    EXPECT_THROW(MofParser::parseFile(d.path(), c5), MofError);
    EXPECT_THROW(MofParser::parseFile(d.path() + "/none.mof", c5), MofError);
}
