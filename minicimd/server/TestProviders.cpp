// Built-in method providers for the classes of minicimd's test schema
// (schema/minicimd-test.mof).  They exist so that clients can test method
// calls end to end: parameters of every shape in and out, and failures.
#include "server/CimHandler.h"

namespace minicimd {

namespace {

Value scalar(DataType t, const std::string& text) {
    Value v = Value::nullOf(t, false);
    v.null = false;
    v.items.push_back(Element{text, nullptr});
    return v;
}

Value array(DataType t, const std::vector<std::string>& texts) {
    Value v = Value::nullOf(t, true);
    v.null = false;
    for (const auto& s : texts) v.items.push_back(Element{s, nullptr});
    return v;
}

Value refValue(const std::vector<ObjectPath>& paths, bool isArray) {
    Value v = Value::nullOf(DataType::Reference, isArray);
    v.null = false;
    for (const auto& p : paths) v.items.push_back(Element{"", std::make_shared<ObjectPath>(p)});
    return v;
}

}  // namespace

void CimHandler::addTestProviders() {
    addProvider("Test_Methods", "Echo",
                [](const Repository&, const std::string&, const ObjectPath&, const Method& m,
                   const std::vector<ParamValue>& in, std::vector<ParamValue>& out) {
                    out = in;
                    Value ret = Value::nullOf(m.returnType, false);
                    for (const auto& p : in)
                        if (nameEq(p.name, "Text")) ret = p.value;
                    return ret;
                });
    addProvider("Test_Methods", "Fail",
                [](const Repository&, const std::string&, const ObjectPath&, const Method& m,
                   const std::vector<ParamValue>& in, std::vector<ParamValue>&) {
                    uint64_t code = 0;
                    std::string message = "failed on request";
                    for (const auto& p : in) {
                        if (p.value.null) continue;
                        if (nameEq(p.name, "Code")) code = std::stoull(p.value.items[0].text);
                        if (nameEq(p.name, "Message")) message = p.value.items[0].text;
                    }
                    if (code == 0) return scalar(m.returnType, "0");
                    if (code > 28) throw CimError(kCimInvalidParameter, "Code " + std::to_string(code) + " is not a CIM status code");
                    throw CimError(static_cast<int>(code), message);
                });
    addProvider("Test_Methods", "Outputs",
                [](const Repository& repo, const std::string& ns, const ObjectPath&, const Method& m,
                   const std::vector<ParamValue>&, std::vector<ParamValue>& out) {
                    out.push_back({"Numbers", array(DataType::Uint32, {"1", "2", "4294967295"})});
                    out.push_back({"Words", array(DataType::String, {"one", "two & <three>"})});
                    out.push_back({"Stamp", scalar(DataType::Datetime, "20240229235958.123456-300")});
                    out.push_back({"Interval", scalar(DataType::Datetime, "00000001020304.500000:000")});
                    std::vector<ObjectPath> all = repo.enumerateInstanceNames(ns, "Test_Base");
                    std::vector<ObjectPath> first;
                    if (!all.empty()) first.push_back(all[0]);
                    if (!first.empty()) out.push_back({"Target", refValue(first, false)});
                    out.push_back({"Targets", refValue(all, true)});
                    return scalar(m.returnType, "0");
                });
}

}  // namespace minicimd
