// Lists: every operation checked by walking the list both ways, so a
// broken back link shows as well as a broken forward link.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/kxlib.h"

namespace {

struct Fixture {
    List list;
    Node n[5] = {};
    char names[5][2] = {{'a'}, {'b'}, {'c'}, {'d'}, {'e'}};
    Fixture() {
        NewList(&list);
        for (int i = 0; i < 5; ++i) n[i].Name = names[i];
    }
    void fill(int count) {
        for (int i = 0; i < count; ++i) AddTail(&list, &n[i]);
    }
};

// Names front to back; checks the way back gives the same order.
std::string order(List* list) {
    std::string fwd, back;
    for (Node* x = GetHead(list); x; x = GetSucc(x)) fwd += x->Name;
    for (Node* x = GetTail(list); x; x = GetPred(x)) back.insert(back.begin(), x->Name[0]);
    EXPECT_EQ(fwd, back) << "back links disagree";
    EXPECT_EQ(CountNodes(list), fwd.size());
    return fwd;
}

}  // namespace

TEST(Lists, EmptyList) {
    Fixture f;
    EXPECT_EQ(IsListEmpty(&f.list), 1);
    EXPECT_EQ(IsListEmpty(nullptr), 1);
    EXPECT_EQ(f.list.Tail, nullptr);
    List before = f.list;
    EXPECT_EQ(RemHead(&f.list), nullptr);
    EXPECT_EQ(RemTail(&f.list), nullptr);
    EXPECT_EQ(memcmp(&before, &f.list, sizeof(List)), 0);
    EXPECT_EQ(GetHead(&f.list), nullptr);
    EXPECT_EQ(GetTail(&f.list), nullptr);
    EXPECT_EQ(CountNodes(&f.list), 0u);
    EXPECT_EQ(order(&f.list), "");
}

TEST(Lists, Operations) {
    struct Case {
        const char* name;
        void (*run)(Fixture&);
        const char* expected;
    };
    const Case cases[] = {
        {"AddTail", [](Fixture& f) { f.fill(3); }, "abc"},
        {"AddHead", [](Fixture& f) { AddHead(&f.list, &f.n[0]); AddHead(&f.list, &f.n[1]); }, "ba"},
        {"Remove middle", [](Fixture& f) { f.fill(3); EXPECT_EQ(Remove(&f.n[1]), &f.n[1]); }, "ac"},
        {"RemHead", [](Fixture& f) { f.fill(3); EXPECT_EQ(RemHead(&f.list), &f.n[0]); }, "bc"},
        {"RemTail", [](Fixture& f) { f.fill(3); EXPECT_EQ(RemTail(&f.list), &f.n[2]); }, "ab"},
        {"RemHead to empty", [](Fixture& f) { f.fill(1); RemHead(&f.list); EXPECT_EQ(IsListEmpty(&f.list), 1); }, ""},
        {"Insert after node", [](Fixture& f) { f.fill(2); InsertNode(&f.list, &f.n[4], &f.n[0]); }, "aeb"},
        {"Insert after last", [](Fixture& f) { f.fill(2); InsertNode(&f.list, &f.n[4], &f.n[1]); }, "abe"},
        {"Insert, null predecessor", [](Fixture& f) { f.fill(2); InsertNode(&f.list, &f.n[4], nullptr); }, "eab"},
        {"Insert after tail sentinel", [](Fixture& f) { f.fill(2); InsertNode(&f.list, &f.n[4], reinterpret_cast<Node*>(&f.list.Tail)); }, "abe"},
        {"Insert into empty at tail", [](Fixture& f) { InsertNode(&f.list, &f.n[4], reinterpret_cast<Node*>(&f.list.Tail)); }, "e"},
        {"Swap apart", [](Fixture& f) { f.fill(5); SwapNodes(&f.n[1], &f.n[3]); }, "adcbe"},
        {"Swap first and last", [](Fixture& f) { f.fill(5); SwapNodes(&f.n[0], &f.n[4]); }, "ebcda"},
        {"Swap neighbours", [](Fixture& f) { f.fill(4); SwapNodes(&f.n[1], &f.n[2]); }, "acbd"},
        {"Swap neighbours, reversed", [](Fixture& f) { f.fill(4); SwapNodes(&f.n[2], &f.n[1]); }, "acbd"},
        {"Swap the only two", [](Fixture& f) { f.fill(2); SwapNodes(&f.n[0], &f.n[1]); }, "ba"},
        {"Swap with itself", [](Fixture& f) { f.fill(3); SwapNodes(&f.n[1], &f.n[1]); }, "abc"},
        {"Null arguments", [](Fixture& f) {
             f.fill(2);
             AddHead(nullptr, &f.n[4]);
             AddTail(&f.list, nullptr);
             InsertNode(nullptr, &f.n[4], nullptr);
             SwapNodes(&f.n[0], nullptr);
             EXPECT_EQ(Remove(nullptr), nullptr);
             EXPECT_EQ(GetSucc(nullptr), nullptr);
             EXPECT_EQ(GetPred(nullptr), nullptr);
             EXPECT_EQ(RemHead(nullptr), nullptr);
             EXPECT_EQ(CountNodes(nullptr), 0u);
             NewList(nullptr);
         }, "ab"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        c.run(f);
        EXPECT_EQ(order(&f.list), c.expected);
    }
}
