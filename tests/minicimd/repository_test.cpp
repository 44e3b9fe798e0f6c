// The repository: the DMTF subset resolved as its files declare it, instance
// creation checks, and loader errors that name file, line and column.
#include "mof/MofLexer.h"
#include "mof/MofParser.h"
#include "repo/Repository.h"

#include <gtest/gtest.h>

using namespace minicimd;
using namespace Pegasus;

namespace {

CIMConstProperty prop(const CIMClass& c, const std::string& n) {
    Uint32 i = c.findProperty(CIMName(n.c_str()));
    if (i == PEG_NOT_FOUND) throw std::runtime_error("no property " + n + " in " + str(c.getClassName()));
    return c.getProperty(i);
}

CIMConstProperty prop(const CIMInstance& c, const std::string& n) {
    Uint32 i = c.findProperty(CIMName(n.c_str()));
    if (i == PEG_NOT_FOUND) throw std::runtime_error("no property " + n);
    return c.getProperty(i);
}

template <class T>
std::string qualText(const T& owner, const std::string& n) {
    return qualifierText(owner, n.c_str());
}

std::string firstText(const CIMConstProperty& p) { return elementText(p.getValue(), 0); }

CIMConstMethod method(const CIMClass& c, const std::string& n) {
    Uint32 i = c.findMethod(CIMName(n.c_str()));
    if (i == PEG_NOT_FOUND) throw std::runtime_error("no method " + n);
    return c.getMethod(i);
}

std::unique_ptr<Repository> dmtf() {
    auto r = Repository::create();
    r->loadMof("root/cimv2", ORV_DMTF_DIR);  // the directory: its schema.mof
    return r;
}

std::unique_ptr<Repository> testRepo() {
    auto r = Repository::create();
    r->loadMof("root/test", MINICIMD_TEST_SCHEMA);
    return r;
}

std::string loadError(const std::string& mof) {
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

CIMValue text(const std::string& t) { return CIMValue(String(t.c_str())); }

int statusOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const CimError& e) {
        return e.code();
    }
    return 0;
}

}  // namespace

TEST(DmtfSubset, ClassesMatchTheirFiles) {
    auto r = dmtf();
    EXPECT_EQ(r->enumerateClassNames("root/cimv2", "", true).size(), 29u);

    // CIM_ComputerSystem: keys inherited from CIM_System, where Name is overridden.
    CIMClass cs = r->getClass("root/cimv2", "cim_computersystem");
    EXPECT_EQ(str(cs.getClassName()), "CIM_ComputerSystem");
    EXPECT_EQ(str(cs.getSuperClassName()), "CIM_System");
    EXPECT_EQ(Repository::keyNamesOf(cs), (std::vector<std::string>{"CreationClassName", "Name"}));
    EXPECT_FALSE(qualifierIsTrue(cs, "Abstract"));  // Abstract is Restricted: CIM_ManagedElement's does not propagate
    EXPECT_TRUE(qualifierIsTrue(r->getClass("root/cimv2", "CIM_ManagedElement"), "Abstract"));
    CIMConstProperty name = prop(cs, "Name");
    EXPECT_TRUE(qualifierIsTrue(name, "Key"));
    EXPECT_EQ(qualText(name, "MaxLen"), "256");     // CIM_System's override, not MSE's 1024
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

TEST(TestSchema, InstanceCreationChecksTheClass) {
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
    EXPECT_EQ(statusOf([&] { r->createInstance(ns, "Test_Base", {{"name", text("new")}}); }), kCimAlreadyExists);
    EXPECT_EQ(statusOf([&] { r->createInstance(ns, "Test_Base", {{"Count", text("1")}}); }), kCimInvalidParameter);
    EXPECT_EQ(statusOf([&] { r->createInstance(ns, "Test_Base", {{"Name", text("x")}, {"Nope", text("1")}}); }),
              kCimNoSuchProperty);
    EXPECT_EQ(statusOf([&] { r->createInstance(ns, "Test_Base", {{"Name", text("x")}, {"Count", text("-1")}}); }),
              kCimTypeMismatch);
    EXPECT_EQ(statusOf([&] { r->createInstance(ns, "Test_Base", {{"Name", text("x")}, {"When", text("yesterday")}}); }),
              kCimTypeMismatch);
    EXPECT_EQ(statusOf([&] { r->createInstance(ns, "Test_Base", {{"Name", text("x")}, {"Tags", text("a")}}); }),
              kCimTypeMismatch);
    EXPECT_EQ(statusOf([&] { r->createInstance(ns, "Nope", {{"Name", text("x")}}); }), kCimInvalidClass);
    EXPECT_EQ(statusOf([&] { r->createInstance("root/none", "Test_Base", {{"Name", text("x")}}); }), kCimInvalidNamespace);
    // Keys compare by value: numeric keys in any spelling, names in any case.
    r->createInstance(ns, "Test_Child", {{"Name", text("c")}, {"Id", text("7")}});
    CIMObjectPath byText(String("Test_Child.Name=\"c\",ID=0x7"));
    EXPECT_EQ(firstText(prop(r->getInstance(ns, byText), "Id")), "7");
    EXPECT_EQ(statusOf([&] { r->createInstance(ns, "Test_Child", {{"Name", text("c")}, {"Id", text("+7")}}); }),
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
    EXPECT_EQ(statusOf([&] { r->modifyInstance(ns, p, {{"Label", text("M")}, {"Small", text("999")}}, nullptr); }),
              kCimTypeMismatch);
    EXPECT_EQ(firstText(prop(r->getInstance(ns, p), "Label")), "L");
    EXPECT_EQ(statusOf([&] { r->setProperty(ns, p, "Name", text("other"), false); }), kCimInvalidParameter);
    r->deleteInstance(ns, p);
    EXPECT_EQ(statusOf([&] { r->getInstance(ns, p); }), kCimNotFound);
    EXPECT_EQ(statusOf([&] { r->deleteInstance(ns, p); }), kCimNotFound);
}

TEST(Loader, ErrorsNameFileLineAndColumn) {
    const std::string quals = "Qualifier Key : boolean = false, Scope(property, reference), Flavor(DisableOverride, ToSubclass);\n"
                              "Qualifier Description : string = null, Scope(any);\n";
    EXPECT_EQ(loadError("class A : B {};"), "x.mof:1:1: superclass 'B' of class 'A' is not defined");
    EXPECT_EQ(loadError("class A { [Nope] string S; };"), "x.mof:1:12: qualifier 'Nope' on property 'A.S' is not declared");
    EXPECT_EQ(loadError(quals + "[Key] class A { };"), "x.mof:3:2: qualifier 'Key' is not allowed on class 'A'");
    EXPECT_EQ(loadError(quals + "class A { [Key] string K; };\nclass B : A { [Key(false)] string K; };"),
              "x.mof:4:16: qualifier 'Key' on property 'B.K' cannot be overridden (it is DisableOverride)");
    EXPECT_EQ(loadError(quals + "class A { uint8 X = 300; };"),
              "x.mof:3:21: property 'A.X': '300' is not a valid uint8 (out of range)");
    EXPECT_EQ(loadError(quals + "class A { uint8 X = \"s\"; };"), "x.mof:3:21: value does not suit property 'A.X' of type uint8");
    EXPECT_EQ(loadError(quals + "class A { [Key] string K; };\ninstance of A { K = \"a\"; };\ninstance of A { K = \"a\"; };"),
              "x.mof:5:1: instance A.K=\"a\" already exists");
    EXPECT_EQ(loadError(quals + "class A { [Key] string K; string S; };\ninstance of A { S = \"a\"; };"),
              "x.mof:4:1: key property 'K' of class A has no value");
    EXPECT_EQ(loadError(quals + "class A { [Key] string K; };\ninstance of A { K = \"a\"; Z = 1; };"),
              "x.mof:4:26: class 'A' has no property 'Z'");
    EXPECT_EQ(loadError(quals + "class A { [Key] string K; A ref R; };\ninstance of A { K = \"a\"; R = $nowhere; };"),
              "x.mof:4:30: alias '$nowhere' is not defined before its use");
    EXPECT_EQ(loadError(quals + "class A { string K; };\nclass A { string K; };"),
              "x.mof:4:1: class 'A' is already defined in namespace 'root/x'");
    EXPECT_EQ(loadError(quals + "class A { Nope REF R; };"), "x.mof:3:20: class 'Nope' of reference property 'A.R' is not defined");
    EXPECT_EQ(loadError("Qualifier Q : uint8 = 1, Scope(any);\nQualifier Q : string, Scope(any);"),
              "x.mof:2:11: qualifier 'Q' is already declared differently");
}

namespace {

// A chain of `levels` classes below Chain_0, each adding a property or not.
std::string chainMof(unsigned levels, bool properties = true) {
    std::string mof = "Qualifier Key : boolean = false, Scope(property, reference), Flavor(DisableOverride);\n"
                      "class Chain_0 { [Key] string Name; };\n";
    for (unsigned i = 1; i <= levels; ++i)
        mof += "class Chain_" + std::to_string(i) + " : Chain_" + std::to_string(i - 1) + " { " +
               (properties ? "string P" + std::to_string(i) + ";" : "") + " };\n";
    return mof;
}

}  // namespace

TEST(RepositoryInheritance, ADeepChainIsResolvedWhole) {
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

TEST(RepositoryInheritance, TooDeepAChainFailsToCompile) {
    std::string err = loadError(chainMof(Repository::kMaxInheritanceDepth + 1, false));
    EXPECT_NE(err.find("levels below its root class"), std::string::npos) << err;
    EXPECT_NE(err.find("Chain_" + std::to_string(Repository::kMaxInheritanceDepth + 1)), std::string::npos) << err;
}
