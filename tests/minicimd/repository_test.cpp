// The repository: the DMTF subset resolved as its files declare it, instance
// creation checks, and loader errors that name file, line and column.
#include "mof/MofLexer.h"
#include "mof/MofParser.h"
#include "repo/Repository.h"

#include <gtest/gtest.h>

using namespace minicimd;

namespace {

const Property& prop(const Class& c, const std::string& n) {
    const Property* p = c.findProperty(n);
    if (!p) throw std::runtime_error("no property " + n + " in " + c.name);
    return *p;
}

std::string qualText(const std::vector<Qualifier>& qs, const std::string& n) {
    const Qualifier* q = findQualifier(qs, n);
    if (!q || q->value.null || q->value.items.empty()) return "<none>";
    return q->value.items[0].text;
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

RawValue text(const std::string& t) {
    RawValue v;
    v.null = false;
    v.texts.push_back(t);
    return v;
}

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
    Class cs = r->getClass("root/cimv2", "cim_computersystem");
    EXPECT_EQ(cs.name, "CIM_ComputerSystem");
    EXPECT_EQ(cs.superClass, "CIM_System");
    EXPECT_EQ(cs.keyNames, (std::vector<std::string>{"CreationClassName", "Name"}));
    EXPECT_FALSE(cs.isAbstract());  // Abstract is Restricted: CIM_ManagedElement's does not propagate
    EXPECT_TRUE(r->getClass("root/cimv2", "CIM_ManagedElement").isAbstract());
    const Property& name = prop(cs, "Name");
    EXPECT_TRUE(qualifierIsTrue(name.qualifiers, "Key"));
    EXPECT_EQ(qualText(name.qualifiers, "MaxLen"), "256");     // CIM_System's override, not MSE's 1024
    EXPECT_EQ(name.classOrigin, "CIM_ManagedSystemElement");  // first declared there
    EXPECT_TRUE(name.propagated);
    // Inherited from the top of the tree, with qualifiers.
    const Property& caption = prop(cs, "Caption");
    EXPECT_EQ(caption.classOrigin, "CIM_ManagedElement");
    EXPECT_EQ(qualText(caption.qualifiers, "MaxLen"), "64");
    // Defaults travel down: CIM_EnabledLogicalElement.EnabledState = 5.
    EXPECT_EQ(prop(cs, "EnabledState").value.items.at(0).text, "5");
    EXPECT_EQ(prop(cs, "RequestedState").value.items.at(0).text, "12");
    // Its own overridden NameFormat keeps the inherited MaxLen and adds its own text.
    const Property& nf = prop(cs, "NameFormat");
    EXPECT_FALSE(nf.propagated);
    EXPECT_EQ(nf.classOrigin, "CIM_System");
    EXPECT_EQ(qualText(nf.qualifiers, "MaxLen"), "64");
    EXPECT_EQ(qualText(nf.qualifiers, "Override"), "NameFormat");
    // Methods are inherited as well.
    ASSERT_NE(cs.findMethod("RequestStateChange"), nullptr);
    EXPECT_TRUE(cs.findMethod("RequestStateChange")->propagated);
    EXPECT_EQ(cs.findMethod("SetPowerState")->parameters.size(), 2u);

    // CIM_ConcreteJob: InstanceID made a key by override; inherited default; interval datetime default.
    Class cj = r->getClass("root/cimv2", "CIM_ConcreteJob");
    EXPECT_EQ(cj.keyNames, (std::vector<std::string>{"InstanceID"}));
    EXPECT_EQ(prop(cj, "JobRunTimes").value.items.at(0).text, "1");
    EXPECT_EQ(prop(cj, "TimeBeforeRemoval").value.items.at(0).text, "00000000000500.000000:000");

    // Associations: the qualifier propagates (ToSubclass), references keep their class.
    Class sc = r->getClass("root/cimv2", "CIM_SystemComponent");
    EXPECT_TRUE(qualifierIsTrue(sc.qualifiers, "Association"));
    EXPECT_TRUE(qualifierIsTrue(sc.qualifiers, "Aggregation"));
    const Property& gc = prop(sc, "GroupComponent");
    EXPECT_EQ(gc.value.type, DataType::Reference);
    EXPECT_EQ(gc.refClass, "CIM_System");
    EXPECT_TRUE(qualifierIsTrue(gc.qualifiers, "Aggregate"));
    EXPECT_TRUE(qualifierIsTrue(gc.qualifiers, "Key"));
    EXPECT_EQ(sc.keyNames.size(), 2u);

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
    ObjectPath p = r->createInstance(ns, "Test_Base", {{"Name", text("new")}, {"Ratio", text("2")}});
    EXPECT_EQ(p.toString(), "Test_Base.Name=\"new\"");
    Instance i = r->getInstance(ns, p);
    EXPECT_EQ(i.findProperty("Count")->value.items.at(0).text, "7");
    EXPECT_EQ(i.findProperty("Ratio")->value.items.at(0).text, "2.0000000000000000e+00");
    EXPECT_TRUE(i.findProperty("Label")->value.null);
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
    ObjectPath byText = ObjectPath::parse("Test_Child.Name=\"c\",ID=0x7");
    EXPECT_EQ(r->getInstance(ns, byText).findProperty("Id")->value.items.at(0).text, "7");
    EXPECT_EQ(statusOf([&] { r->createInstance(ns, "Test_Child", {{"Name", text("c")}, {"Id", text("+7")}}); }),
              kCimAlreadyExists);
    // Subclass instances enumerate under the base.
    EXPECT_EQ(r->enumerateInstanceNames(ns, "Test_Base").size(), 4u);  // alpha, new, beta, c
    EXPECT_EQ(r->enumerateInstanceNames(ns, "Test_Child").size(), 2u);
    // The association built from aliases points at real instances.
    auto links = r->enumerateInstances(ns, "Test_Link");
    ASSERT_EQ(links.size(), 1u);
    EXPECT_EQ(links[0].findProperty("Left")->value.items.at(0).ref->toString(), "Test_Base.Name=\"alpha\"");
    EXPECT_EQ(links[0].findProperty("Right")->value.items.at(0).ref->toString(), "Test_Child.Id=2,Name=\"beta\"");
    // Test_Special overrides Count with a new default and qualifier.
    Class special = r->getClass(ns, "Test_Special");
    EXPECT_EQ(prop(special, "Count").value.items.at(0).text, "9");
    EXPECT_EQ(qualText(prop(special, "Count").qualifiers, "Description"), "overridden here");
    EXPECT_EQ(qualText(special.qualifiers, "Description"), "a grandchild");

    // Modify and set keep keys and types; a bad value changes nothing.
    std::vector<std::string> list = {"Label"};
    r->modifyInstance(ns, p, {{"Label", text("L")}, {"Count", text("99")}}, &list);
    i = r->getInstance(ns, p);
    EXPECT_EQ(i.findProperty("Label")->value.items.at(0).text, "L");
    EXPECT_EQ(i.findProperty("Count")->value.items.at(0).text, "7");  // not in the list
    EXPECT_EQ(statusOf([&] { r->modifyInstance(ns, p, {{"Label", text("M")}, {"Small", text("999")}}, nullptr); }),
              kCimTypeMismatch);
    EXPECT_EQ(r->getInstance(ns, p).findProperty("Label")->value.items.at(0).text, "L");
    EXPECT_EQ(statusOf([&] { r->setProperty(ns, p, "Name", text("other")); }), kCimInvalidParameter);
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
