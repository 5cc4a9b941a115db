// Demo of the object layer (zvdb.hpp): a session with a dictionary of its
// own, the database "shop" and its table "items" defined, filled, listed,
// searched, changed and altered through the classes alone, and one failure
// caught as a ZVException. Run it in an empty directory: it makes its files
// there. Nothing it prints comes from the clock, so its output is always
// the same (examples/objdemo.expected). It exits with 1 when an exception
// it does not expect reaches main.
//
// The objects are destroyed in the order the classes ask for: a record
// before its table, a table before its database, a database before its
// session, which logs out last.
#include <cstdio>
#include <memory>

#include "zarvo/zvdb.hpp"

namespace {

struct Item {
    int id;
    const char *name;
    const char *price;
    int year, month, day;
};

const Item kItems[] = {
    {1, "teapot", "24.50", 2024, 3, 1},  {2, "kettle", "39.99", 2024, 3, 2}, {3, "cup", "4.50", 2024, 3, 5},
    {4, "saucer", "3.25", 2024, 4, 11}, {5, "spoon", "1.99", 2024, 4, 12},
};

// Defines the table's fields and indexes on a new table object and makes
// its files.
void define_items(ZVTable &items) {
    items.AddField("id", ZV_INT4, 4);
    items.AddField("name", ZV_STRING, 30);
    items.AddField("price", ZV_MONEY, 4);
    items.AddField("added", ZV_DATE, 4);
    // Segment mode 12: the key is the field's value in its type's order.
    items.AddIndex("by_id", 0, 0, 0);
    items.AddSegment("by_id", "id", 12);
    items.AddIndex("by_name", 0, 1, 0);
    items.AddSegment("by_name", "name", 12);
    items.Create("items", 0);
}

void write_item(ZVRecord &r, const Item &item) {
    ZVDate added;
    added.Pack(item.year, item.month, item.day);
    r.Clear();
    r.SetFieldAsSigned("id", item.id);
    r.SetFieldAsString("name", item.name);
    r.SetFieldAsMoney("price", ZVMoney(ZVString(item.price)));
    r.SetFieldAsDate("added", added);
    r.Write();
}

// One line of the record read: id, name, price, date (and the stock).
void print_item(const ZVRecord &r, bool stock) {
    const ZVDate added = r.GetFieldAsDate("added");
    std::printf("  %d  %-7s %6s  %04d-%02d-%02d", r.GetFieldAsSigned("id"), r.GetFieldAsString("name").c_str(),
                r.GetFieldAsMoney("price").AsString().c_str(), added.Year(), added.Month(), added.Day());
    if (stock) std::printf("  stock %d", r.GetFieldAsSigned("stock"));
    std::printf("\n");
}

// Reads the record whose id is given through the index "by_id".
bool find_by_id(ZVRecord &r, int id) {
    r.SetDefaultIndex("by_id");
    r.Clear();
    r.SetFieldAsSigned("id", id);
    return r.Find(0);
}

void list_by_name(ZVRecord &r, bool stock) {
    r.SetDefaultIndex("by_name");
    for (bool more = r.First(); more; more = r.Next()) print_item(r, stock);
}

void run() {
    auto session = std::make_unique<ZVSession>(0);
    session->Create(ZVString(), ZVString(), ZVString());
    session->Logon(ZVString(), "demo", ZVString());
    std::printf("logged on as %s\n", session->GetUserLogonName().c_str());

    session->CreateDatabase("shop", ".");
    ZVString name, path;
    for (bool more = session->FirstDatabase(name, path); more; more = session->NextDatabase(name, path)) {
        std::printf("database %s in %s\n", name.c_str(), path.c_str());
    }
    auto shop = std::make_unique<ZVDatabase>(*session);
    shop->Connect("shop");
    // The session answers its connected databases as their objects.
    std::printf("connected to %s: %s\n", shop->GetName().c_str(),
                session->FindActive("shop") == shop.get() ? "yes" : "no");

    auto items = std::make_unique<ZVTable>(*shop);
    define_items(*items);
    items->Open("items", 0);
    std::printf("table %s: %d fields, %d indexes\n", items->GetName().c_str(), items->GetFieldCount(),
                items->GetIndexCount());

    {
        ZVRecord r(*items);
        for (const Item &item : kItems) write_item(r, item);
        std::printf("%lld items written; by name:\n", r.GetRecordCount());
        list_by_name(r, false);

        if (find_by_id(r, 3)) {
            std::printf("found id 3:\n");
            print_item(r, false);
            r.SetFieldAsMoney("price", ZVMoney(ZVString("4.75")));
            r.Write();
        }
        if (find_by_id(r, 3)) {
            std::printf("updated id 3:\n");
            print_item(r, false);
        }
        if (find_by_id(r, 2)) r.Delete();
        std::printf("id 2 deleted: %s, %lld items left\n", find_by_id(r, 2) ? "no" : "yes", r.GetRecordCount());
    }

    // A new field with a default value: the alteration copies every record
    // and gives each the default. Records of a table do not outlive its
    // alteration, so the record above went first.
    {
        ZVField stock = items->AddField("stock", ZV_INT4, 4);
        stock.SetFieldDefaultValue("10");
        items->Alter(0);
    }
    {
        ZVRecord r(*items);
        std::printf("field stock added with default 10; by name:\n");
        list_by_name(r, true);
    }

    try {
        ZVTable nope(*shop);
        nope.Open("nope", 0);
        std::printf("opened a table that does not exist\n");
    } catch (const ZVException &e) {
        std::printf("caught ZVException %d \"%s\" from %s\n", e.GetErrorCode(), e.GetErrorMsg(), e.GetSourceFile());
    }

    items.reset();
    shop.reset();
    session->Logout();
    std::printf("objects destroyed, logged out\n");
}

}  // namespace

int main() {
    try {
        run();
    } catch (const ZVException &e) {
        std::fprintf(stderr, "objdemo: ZVException %d \"%s\" from %s, line %d\n", e.GetErrorCode(), e.GetErrorMsg(),
                     e.GetSourceFile(), e.GetLineNbr());
        return 1;
    }
    return 0;
}
