// The repository: the DMTF subset resolved as its files declare it, instance
// creation checks, and loader errors that name file, line and column.
#include "mof/MofLexer.h"
#include "mof/MofParser.h"
#include "repo/Repository.h"

#include "CimXml/CimXml.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

using namespace minicimd;
using namespace Pegasus;

namespace {

CIMConstProperty prop(const CIMClass& c, const std::string& n)
{
    Uint32 i = c.findProperty(CIMName(n.c_str()));
    if (i == PEG_NOT_FOUND) throw std::runtime_error("no property " + n + " in " + str(c.getClassName()));
    return c.getProperty(i);
}

CIMConstProperty prop(const CIMInstance& c, const std::string& n)
{
    Uint32 i = c.findProperty(CIMName(n.c_str()));
    if (i == PEG_NOT_FOUND) throw std::runtime_error("no property " + n);
    return c.getProperty(i);
}

template <class T>
std::string qualText(const T& owner, const std::string& n)
{
    return qualifierText(owner, n.c_str());
}

std::string firstText(const CIMConstProperty& p)
{
    return elementText(p.getValue(), 0);
}

CIMConstMethod method(const CIMClass& c, const std::string& n)
{
    Uint32 i = c.findMethod(CIMName(n.c_str()));
    if (i == PEG_NOT_FOUND) throw std::runtime_error("no method " + n);
    return c.getMethod(i);
}

std::unique_ptr<Repository> dmtf()
{
    auto r = Repository::create();
    r->loadMof("root/cimv2", ORV_DMTF_DIR);  // the directory: its schema.mof
    return r;
}

std::unique_ptr<Repository> testRepo()
{
    auto r = Repository::create();
    r->loadMof("root/test", MINICIMD_TEST_SCHEMA);
    return r;
}

std::string loadError(const std::string& mof)
{
    auto r = Repository::create();
    mof::Compilation c;
    try {
        mof::MofParser::parseText(mof, "x.mof", c);
        r->loadCompilation("root/x", c);
    } catch (const mof::MofError& e) {
        return e.what();
    }
    return "";
}

CIMValue text(const std::string& t)
{
    return CIMValue(String(t.c_str()));
}

int statusOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const CimError& e) {
        return e.code();
    }
    return 0;
}

}  // namespace

TEST(DmtfSubset, ClassesMatchTheirFiles)
{
    auto r = dmtf();
    EXPECT_EQ(r->enumerateClassNames("root/cimv2", "", true).size(), 29u);

    // CIM_ComputerSystem: keys inherited from CIM_System, where Name is overridden.
    CIMClass cs = r->getClass("root/cimv2", "cim_computersystem");
    EXPECT_EQ(str(cs.getClassName()), "CIM_ComputerSystem");
    EXPECT_EQ(str(cs.getSuperClassName()), "CIM_System");
    EXPECT_EQ(Repository::keyNamesOf(cs), (std::vector<std::string>{"CreationClassName", "Name"}));
    EXPECT_FALSE(
        qualifierIsTrue(cs, "Abstract"));  // Abstract is Restricted: CIM_ManagedElement's does not propagate
    EXPECT_TRUE(qualifierIsTrue(r->getClass("root/cimv2", "CIM_ManagedElement"), "Abstract"));
    CIMConstProperty name = prop(cs, "Name");
    EXPECT_TRUE(qualifierIsTrue(name, "Key"));
    EXPECT_EQ(qualText(name, "MaxLen"), "256");  // CIM_System's override, not MSE's 1024
    EXPECT_EQ(str(name.getClassOrigin()), "CIM_ManagedSystemElement");  // first declared there
    EXPECT_TRUE(name.getPropagated());
    // Inherited from the top of the tree, with qualifiers.
    CIMConstProperty caption = prop(cs, "Caption");
    EXPECT_EQ(str(caption.getClassOrigin()), "CIM_ManagedElement");
    EXPECT_EQ(qualText(caption, "MaxLen"), "64");
    // Defaults travel down: CIM_EnabledLogicalElement.EnabledState = 5.
    EXPECT_EQ(firstText(prop(cs, "EnabledState")), "5");
    EXPECT_EQ(firstText(prop(cs, "RequestedState")), "12");
    // Its own overridden NameFormat keeps the inherited MaxLen and adds its own text.
    CIMConstProperty nf = prop(cs, "NameFormat");
    EXPECT_FALSE(nf.getPropagated());
    EXPECT_EQ(str(nf.getClassOrigin()), "CIM_System");
    EXPECT_EQ(qualText(nf, "MaxLen"), "64");
    EXPECT_EQ(qualText(nf, "Override"), "NameFormat");
    // Methods are inherited as well.
    ASSERT_NE(cs.findMethod(CIMName("RequestStateChange")), PEG_NOT_FOUND);
    EXPECT_TRUE(method(cs, "RequestStateChange").getPropagated());
    EXPECT_EQ(method(cs, "SetPowerState").getParameterCount(), 2u);

    // CIM_ConcreteJob: InstanceID made a key by override; inherited default; interval datetime default.
    CIMClass cj = r->getClass("root/cimv2", "CIM_ConcreteJob");
    EXPECT_EQ(Repository::keyNamesOf(cj), (std::vector<std::string>{"InstanceID"}));
    EXPECT_EQ(firstText(prop(cj, "JobRunTimes")), "1");
    EXPECT_EQ(firstText(prop(cj, "TimeBeforeRemoval")), "00000000000500.000000:000");

    // Associations: the qualifier propagates (ToSubclass), references keep their class.
    CIMClass sc = r->getClass("root/cimv2", "CIM_SystemComponent");
    EXPECT_TRUE(qualifierIsTrue(sc, "Association"));
    EXPECT_TRUE(qualifierIsTrue(sc, "Aggregation"));
    CIMConstProperty gc = prop(sc, "GroupComponent");
    EXPECT_EQ(gc.getType(), CIMTYPE_REFERENCE);
    EXPECT_EQ(str(gc.getReferenceClassName()), "CIM_System");
    EXPECT_TRUE(qualifierIsTrue(gc, "Aggregate"));
    EXPECT_TRUE(qualifierIsTrue(gc, "Key"));
    EXPECT_EQ(Repository::keyNamesOf(sc).size(), 2u);

    // Enumerations by inheritance.
    auto direct = r->enumerateClassNames("root/cimv2", "CIM_System", false);
    EXPECT_EQ(direct, (std::vector<std::string>{"CIM_ComputerSystem"}));
    auto roots = r->enumerateClassNames("root/cimv2", "", false);
    EXPECT_NE(std::find(roots.begin(), roots.end(), "CIM_ManagedElement"), roots.end());
    EXPECT_EQ(std::find(roots.begin(), roots.end(), "CIM_System"), roots.end());
}

TEST(TestSchema, InstanceCreationChecksTheClass)
{
    auto r = testRepo();
    const std::string ns = "root/test";
    // Defaults filled, values canonical.
    CIMObjectPath p = r->createInstance(ns, "Test_Base", {{"Name", text("new")}, {"Ratio", text("2")}});
    EXPECT_EQ(str(p.toString()), "Test_Base.Name=\"new\"");
    CIMInstance i = r->getInstance(ns, p);
    EXPECT_EQ(firstText(prop(i, "Count")), "7");
    EXPECT_EQ(firstText(prop(i, "Ratio")), "2.0000000000000000e+00");
    EXPECT_TRUE(prop(i, "Label").getValue().isNull());
    // Duplicates, missing keys, unknown properties, wrong types, abstract or unknown classes.
    EXPECT_EQ(statusOf([&] {
                  r->createInstance(ns, "Test_Base", {{"name", text("new")}});
              }),
              kCimAlreadyExists);
    EXPECT_EQ(statusOf([&] {
                  r->createInstance(ns, "Test_Base", {{"Count", text("1")}});
              }),
              kCimInvalidParameter);
    EXPECT_EQ(statusOf([&] {
                  r->createInstance(ns, "Test_Base", {{"Name", text("x")}, {"Nope", text("1")}});
              }),
              kCimNoSuchProperty);
    EXPECT_EQ(statusOf([&] {
                  r->createInstance(ns, "Test_Base", {{"Name", text("x")}, {"Count", text("-1")}});
              }),
              kCimTypeMismatch);
    EXPECT_EQ(statusOf([&] {
                  r->createInstance(ns, "Test_Base", {{"Name", text("x")}, {"When", text("yesterday")}});
              }),
              kCimTypeMismatch);
    EXPECT_EQ(statusOf([&] {
                  r->createInstance(ns, "Test_Base", {{"Name", text("x")}, {"Tags", text("a")}});
              }),
              kCimTypeMismatch);
    EXPECT_EQ(statusOf([&] { r->createInstance(ns, "Nope", {{"Name", text("x")}}); }), kCimInvalidClass);
    EXPECT_EQ(statusOf([&] {
                  r->createInstance("root/none", "Test_Base", {{"Name", text("x")}});
              }),
              kCimInvalidNamespace);
    // Keys compare by value: numeric keys in any spelling, names in any case.
    r->createInstance(ns, "Test_Child", {{"Name", text("c")}, {"Id", text("7")}});
    CIMObjectPath byText(String("Test_Child.Name=\"c\",ID=0x7"));
    EXPECT_EQ(firstText(prop(r->getInstance(ns, byText), "Id")), "7");
    EXPECT_EQ(statusOf([&] {
                  r->createInstance(ns, "Test_Child", {{"Name", text("c")}, {"Id", text("+7")}});
              }),
              kCimAlreadyExists);
    // Subclass instances enumerate under the base.
    EXPECT_EQ(r->enumerateInstanceNames(ns, "Test_Base").size(), 4u);  // alpha, new, beta, c
    EXPECT_EQ(r->enumerateInstanceNames(ns, "Test_Child").size(), 2u);
    // The association built from aliases points at real instances.
    auto links = r->enumerateInstances(ns, "Test_Link");
    ASSERT_EQ(links.size(), 1u);
    EXPECT_EQ(firstText(prop(links[0], "Left")), "Test_Base.Name=\"alpha\"");
    EXPECT_EQ(firstText(prop(links[0], "Right")), "Test_Child.Id=2,Name=\"beta\"");
    // Test_Special overrides Count with a new default and qualifier.
    CIMClass special = r->getClass(ns, "Test_Special");
    EXPECT_EQ(firstText(prop(special, "Count")), "9");
    EXPECT_EQ(qualText(prop(special, "Count"), "Description"), "overridden here");
    EXPECT_EQ(qualText(special, "Description"), "a grandchild");

    // Modify and set keep keys and types; a bad value changes nothing.
    std::vector<std::string> list = {"Label"};
    r->modifyInstance(ns, p, {{"Label", text("L")}, {"Count", text("99")}}, &list);
    i = r->getInstance(ns, p);
    EXPECT_EQ(firstText(prop(i, "Label")), "L");
    EXPECT_EQ(firstText(prop(i, "Count")), "7");  // not in the list
    EXPECT_EQ(statusOf([&] {
                  r->modifyInstance(ns, p, {{"Label", text("M")}, {"Small", text("999")}}, nullptr);
              }),
              kCimTypeMismatch);
    EXPECT_EQ(firstText(prop(r->getInstance(ns, p), "Label")), "L");
    EXPECT_EQ(statusOf([&] { r->setProperty(ns, p, "Name", text("other"), false); }), kCimInvalidParameter);
    r->deleteInstance(ns, p);
    EXPECT_EQ(statusOf([&] { r->getInstance(ns, p); }), kCimNotFound);
    EXPECT_EQ(statusOf([&] { r->deleteInstance(ns, p); }), kCimNotFound);
}

TEST(Loader, ErrorsNameFileLineAndColumn)
{
    const std::string quals =
        "Qualifier Key : boolean = false, Scope(property, reference), Flavor(DisableOverride, ToSubclass);\n"
        "Qualifier Description : string = null, Scope(any);\n";
    EXPECT_EQ(loadError("class A : B {};"), "x.mof:1:1: superclass 'B' of class 'A' is not defined");
    EXPECT_EQ(loadError("class A { [Nope] string S; };"),
              "x.mof:1:12: qualifier 'Nope' on property 'A.S' is not declared");
    EXPECT_EQ(loadError(quals + "[Key] class A { };"),
              "x.mof:3:2: qualifier 'Key' is not allowed on class 'A'");
    EXPECT_EQ(loadError(quals + "class A { [Key] string K; };\nclass B : A { [Key(false)] string K; };"),
              "x.mof:4:16: qualifier 'Key' on property 'B.K' cannot be overridden (it is DisableOverride)");
    EXPECT_EQ(loadError(quals + "class A { uint8 X = 300; };"),
              "x.mof:3:21: property 'A.X': '300' is not a valid uint8 (out of range)");
    EXPECT_EQ(loadError(quals + "class A { uint8 X = \"s\"; };"),
              "x.mof:3:21: value does not suit property 'A.X' of type uint8");
    EXPECT_EQ(
        loadError(
            quals +
            "class A { [Key] string K; };\ninstance of A { K = \"a\"; };\ninstance of A { K = \"a\"; };"),
        "x.mof:5:1: instance A.K=\"a\" already exists");
    EXPECT_EQ(loadError(quals + "class A { [Key] string K; string S; };\ninstance of A { S = \"a\"; };"),
              "x.mof:4:1: key property 'K' of class A has no value");
    EXPECT_EQ(loadError(quals + "class A { [Key] string K; };\ninstance of A { K = \"a\"; Z = 1; };"),
              "x.mof:4:26: class 'A' has no property 'Z'");
    EXPECT_EQ(loadError(quals +
                        "class A { [Key] string K; A ref R; };\ninstance of A { K = \"a\"; R = $nowhere; };"),
              "x.mof:4:30: alias '$nowhere' is not defined before its use");
    EXPECT_EQ(loadError(quals + "class A { string K; };\nclass A { string K; };"),
              "x.mof:4:1: class 'A' is already defined in namespace 'root/x'");
    EXPECT_EQ(loadError(quals + "class A { Nope REF R; };"),
              "x.mof:3:20: class 'Nope' of reference property 'A.R' is not defined");
    EXPECT_EQ(loadError("Qualifier Q : uint8 = 1, Scope(any);\nQualifier Q : string, Scope(any);"),
              "x.mof:2:11: qualifier 'Q' is already declared differently");
}

// ---------------------------------------------------------------------------
// The stored form: values come back as they went in, and answers written from
// it read exactly as the object model's instances written by the codec.

namespace {

std::string laid(const std::string& compact)
{
    return orv::cimxml::laidOut(compact, orv::cimxml::Layout::OneElementPerLine);
}

// What an answer carries of a value: the codec's text, or the error writing it gives.
std::string written(const std::function<void(std::string&)>& write)
{
    std::string out;
    try {
        write(out);
    } catch (const orv::cimxml::EncodeError& e) {
        return std::string("EncodeError: ") + e.what();
    }
    return out;
}

// The instance a client asked to see, through the object model: properties
// not listed dropped, the class's qualifiers added, class origins cleared.
CIMInstance shaped(const Repository& r, const std::string& ns, const CIMObjectPath& path,
                   const InstanceView& v)
{
    CIMInstance inst = r.getInstance(ns, path);
    CIMClass cls = r.getClass(ns, str(inst.getClassName()));
    for (Uint32 i = inst.getPropertyCount(); i-- > 0;) {
        CIMProperty p = inst.getProperty(i);
        bool keep = !v.propertyList;
        for (Uint32 k = 0; v.propertyList && k < v.propertyList->size(); ++k)
            keep = keep || nameEq((*v.propertyList)[k], str(p.getName()));
        if (!keep) {
            inst.removeProperty(i);
            continue;
        }
        if (v.includeQualifiers) {
            CIMConstProperty decl = cls.getProperty(cls.findProperty(p.getName()));
            for (Uint32 q = 0; q < decl.getQualifierCount(); ++q)
                p.addQualifier(decl.getQualifier(q).clone());
        }
        if (!v.includeClassOrigin) p.setClassOrigin(CIMName());
    }
    return inst;
}

// A chain of `levels` classes below Chain_0, each adding a property or not.
std::string chainMof(unsigned levels, bool properties = true)
{
    std::string mof =
        "Qualifier Key : boolean = false, Scope(property, reference), Flavor(DisableOverride);\n"
        "class Chain_0 { [Key] string Name; };\n";
    for (unsigned i = 1; i <= levels; ++i)
        mof += "class Chain_" + std::to_string(i) + " : Chain_" + std::to_string(i - 1) + " { " +
               (properties ? "string P" + std::to_string(i) + ";" : "") + " };\n";
    return mof;
}

}  // namespace

TEST(StoredForm, ValuesComeBackAsGiven)
{
    Array<Uint32> numbers;
    numbers.append(1);
    numbers.append(4000000000u);
    const CIMValue values[] = {CIMValue(Boolean(true)),
                               CIMValue(Boolean(false)),
                               CIMValue(Uint8(255)),
                               CIMValue(Sint8(-128)),
                               CIMValue(Uint16(65535)),
                               CIMValue(Sint16(-32768)),
                               CIMValue(Uint32(4294967295u)),
                               CIMValue(Sint32(-2147483647 - 1)),
                               CIMValue(Uint64(18446744073709551615ull)),
                               CIMValue(Sint64(-9223372036854775807ll - 1)),
                               CIMValue(Real32(1.0f / 3)),
                               CIMValue(Real32(-0.0f)),
                               CIMValue(Real64(1.0 / 3)),
                               CIMValue(Real64(1e308)),
                               CIMValue(Real64(5e-324)),
                               CIMValue(Real64(-0.0)),
                               CIMValue(Real64(std::nan(""))),
                               CIMValue(Real64(HUGE_VAL)),
                               CIMValue(Real64(-HUGE_VAL)),
                               CIMValue(Char16('x')),
                               CIMValue(Char16('<')),
                               CIMValue(Char16(0xD800)),
                               CIMValue(String("a<b&c>\"d'e\tf\ng\rh")),
                               CIMValue(String("\xc3\xbc\xe2\x82\xac\xf0\x9d\x84\x9e")),
                               CIMValue(String("")),
                               CIMValue(String("  spaced  ")),
                               CIMValue(String("bell\x07")),
                               CIMValue(CIMDateTime(String("20261207041311.000000+000"))),
                               CIMValue(CIMDateTime(String("00000001020304.000005:000"))),
                               CIMValue(CIMDateTime(String("2026120704****.******+060"))),
                               CIMValue(numbers),
                               CIMValue(Array<String>()),
                               CIMValue(CIMObjectPath(String("Test_Base.Name=\"x\""))),
                               CIMValue(CIMTYPE_STRING, false),
                               CIMValue(CIMTYPE_UINT32, true),
                               CIMValue(CIMTYPE_REFERENCE, false)};
    for (const CIMValue& v : values) {
        SCOPED_TRACE(str(v.toString()));
        StoredValue s(v);
        CIMValue back = s.value();
        EXPECT_TRUE(back == v);
        EXPECT_EQ(back.getType(), v.getType());
        EXPECT_EQ(back.isArray(), v.isArray());
        const std::string expected = written([&](std::string& out) {
            std::string compact;
            orv::cimxml::writeValueElement(compact, v);
            out = compact.empty() ? "" : laid(compact);
        });
        EXPECT_EQ(written([&](std::string& out) { s.writeElement(out); }), expected);
        EXPECT_EQ(written([&](std::string& out) { StoredValue(back).writeElement(out); }), expected);
    }
}

TEST(StoredForm, AnswersReadAsTheObjectModelWritten)
{
    auto r = testRepo();
    const std::string ns = "root/test";
    // Beside the schema's own: class defaults kept and changed, a null given,
    // text that needs escaping, and a value no answer can carry.
    r->createInstance(ns, "Test_Special",
                      {{"Name", text("s1")}, {"Id", text("7")}, {"Label", CIMValue(CIMTYPE_STRING, false)}});
    r->createInstance(ns, "Test_Special",
                      {{"Extra", text("x<&>\"'\ty")}, {"Id", text("8")}, {"Name", text("s2")}});
    r->createInstance(ns, "Test_Base", {{"Name", text("bad")}, {"Label", text("bell\x07")}});
    r->modifyInstance(ns, CIMObjectPath(String("Test_Special.Name=\"s1\",Id=7")),
                      {{"Count", text("11")}, {"Label", text("now set")}}, nullptr);
    std::vector<std::string> extraOnly{"EXTRA", "name"};
    r->modifyInstance(ns, CIMObjectPath(String("Test_Special.Name=\"s2\",Id=8")), {{"Name", text("s2")}},
                      &extraOnly);

    const std::vector<std::string> listed{"label", "COUNT", "Right"};
    const std::vector<std::string> none;
    int instances = 0;
    for (const std::string& cls : r->enumerateClassNames(ns, "", false)) {
        std::string names;
        r->writeInstanceNames(ns, cls, names);
        std::string expectedNames;
        for (const CIMObjectPath& p : r->enumerateInstanceNames(ns, cls)) {
            std::string compact;
            orv::cimxml::writeInstanceName(compact, p);
            expectedNames += laid(compact);
        }
        EXPECT_EQ(names, expectedNames) << cls;
        for (const CIMObjectPath& p : r->enumerateInstanceNames(ns, cls)) {
            ++instances;
            for (int k = 0; k < 16; ++k) {
                InstanceView v;
                v.includeQualifiers = k & 1;
                v.includeClassOrigin = k & 2;
                v.propertyList = (k & 4) ? &listed : (k & 8) ? &none : nullptr;
                SCOPED_TRACE(str(p.toString()) + " view " + std::to_string(k));
                const std::string expected = written([&](std::string& out) {
                    std::string compact;
                    orv::cimxml::writeInstance(compact, shaped(*r, ns, p, v));
                    out = laid(compact);
                });
                EXPECT_EQ(written([&](std::string& out) { r->writeInstance(ns, p, v, out); }), expected);
            }
        }
    }
    EXPECT_EQ(instances, 7);
}

TEST(StoredForm, InstancesKeepTheShapeTheyWereMadeIn)
{
    auto r = testRepo();
    const std::string ns = "root/test";
    const CIMObjectPath path =
        r->createInstance(ns, "Test_Special", {{"Extra", text("e")}, {"Id", text("1")}, {"Name", text("n")}});
    // Properties filled from the class come first, in class order and marked
    // propagated; the given ones follow in given order.  Changes keep both.
    auto shape = [&] {
        CIMInstance inst = r->getInstance(ns, path);
        std::string s;
        for (Uint32 i = 0; i < inst.getPropertyCount(); ++i) {
            CIMConstProperty p = inst.getProperty(i);
            s += str(p.getName()) + (p.getPropagated() ? "^" : "") + "=" +
                 (p.getValue().isNull() ? "null" : firstText(p)) + " ";
        }
        return s;
    };
    const struct {
        std::vector<GivenProperty> change;
        std::vector<std::string> list;  // empty: no property list
        std::string shape;
    } steps[] = {
        {{},
         {},
         "Label^=null Flag^=null Big^=null Small^=null Ratio^=null Letter^=null When^=null Tags^=null "
         "Count^=9 Extra=e Id=1 Name=n "},
        {{{"Count", text("11")}, {"Extra", text("f")}},
         {},
         "Label^=null Flag^=null Big^=null Small^=null Ratio^=null Letter^=null When^=null Tags^=null "
         "Count^=11 Extra=f Id=1 Name=n "},
        {{{"Label", text("l")}},
         {"Label", "Extra", "Count"},
         "Label^=l Flag^=null Big^=null Small^=null Ratio^=null Letter^=null When^=null Tags^=null "
         "Count^=null Extra=null Id=1 Name=n "},
        {{{"Count", CIMValue(CIMTYPE_UINT32, false)}},
         {},
         "Label^=l Flag^=null Big^=null Small^=null Ratio^=null Letter^=null When^=null Tags^=null "
         "Count^=null Extra=null Id=1 Name=n "},
    };
    for (const auto& s : steps) {
        if (!s.change.empty()) r->modifyInstance(ns, path, s.change, s.list.empty() ? nullptr : &s.list);
        EXPECT_EQ(shape(), s.shape);
    }
    EXPECT_EQ(statusOf([&] {
                  r->modifyInstance(ns, path, {{"Id", text("2")}}, nullptr);
              }),
              kCimInvalidParameter);
    EXPECT_EQ(elementText(r->getProperty(ns, path, "label"), 0), "l");
    EXPECT_TRUE(r->getProperty(ns, path, "Count").isNull());
    EXPECT_EQ(str(r->getInstance(ns, path).getPath().toString()), "Test_Special.Id=1,Name=\"n\"");
    auto all = r->enumerateInstances(ns, "Test_Special");
    ASSERT_EQ(all.size(), 1u);
    EXPECT_TRUE(all[0].identical(r->getInstance(ns, path)));
}

TEST(RepositoryInheritance, ADeepChainIsResolvedWhole)
{
    const unsigned kLevels = 1100;
    auto r = Repository::create();
    mof::Compilation c;
    mof::MofParser::parseText(chainMof(kLevels), "chain.mof", c);
    r->loadCompilation("root/x", c);
    EXPECT_EQ(r->enumerateClassNames("root/x", "Chain_0", true).size(), kLevels);
    const std::string deepest = "Chain_" + std::to_string(kLevels);
    EXPECT_TRUE(r->classIsA("root/x", deepest, "Chain_0"));
    EXPECT_FALSE(r->classIsA("root/x", "Chain_0", deepest));
    EXPECT_EQ(r->getClass("root/x", deepest).getPropertyCount(), kLevels + 1);
    r->createInstance("root/x", deepest, {{"Name", text("bottom")}});
    EXPECT_EQ(r->enumerateInstances("root/x", "Chain_0").size(), 1u);
    EXPECT_EQ(r->enumerateInstanceNames("root/x", "Chain_0").size(), 1u);
}

TEST(RepositoryInheritance, TooDeepAChainFailsToCompile)
{
    std::string err = loadError(chainMof(Repository::kMaxInheritanceDepth + 1, false));
    EXPECT_NE(err.find("levels below its root class"), std::string::npos) << err;
    EXPECT_NE(err.find("Chain_" + std::to_string(Repository::kMaxInheritanceDepth + 1)), std::string::npos)
        << err;
}
