/* Demo of the Zarvo engine: starts an engine (which registers the default
 * instance) and writes an entry to the status log "ZVSTATUS.QVS"; then keeps
 * a set of customers: a data file with a unique index on the customer number
 * and an index on the city that allows duplicates. It adds 1,000 customers
 * in random order, reads them back in the order of each index, rewrites and
 * deletes some, prints a short summary and stops the engine again. It exits
 * with 1 when a count or an order is not what it must be. */
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "zarvo/zarvo.h"

#define CUSTOMERS 1000

/* One customer: 64 bytes. The number is 8 decimal digits, so that byte
 * order is number order. */
struct customer {
    char number[8];
    char city[20];
    char name[24];
    uint32_t balance;
    char pad[8];
};

static const char *const cities[] = {"Basel", "Bern", "Chur", "Geneva", "Lausanne",
                                     "Lugano", "Luzern", "Sion", "Thun", "Zug"};

static int failures = 0;

static void expect(int ok, const char *what) {
    if (!ok) {
        fprintf(stderr, "wrong: %s\n", what);
        failures++;
    }
}

static void number_target(char *t, uint32_t n);

/* Copies a city name into a 20-byte field padded with zero bytes. */
static void set_city(char *field, const char *city) {
    size_t n = strlen(city);
    memset(field, 0, 20);
    memcpy(field, city, n < 20 ? n : 20);
}

static void make_customer(struct customer *c, uint32_t n, const char *city) {
    memset(c, 0, sizeof *c);
    number_target(c->number, n);
    set_city(c->city, city);
    snprintf(c->name, sizeof c->name, "Customer %u", (unsigned)n);
    c->balance = n * 10;
}

static uint32_t number_of(const struct customer *c) {
    uint32_t n = 0;
    int i;
    for (i = 0; i < 8; i++) n = n * 10 + (uint32_t)(c->number[i] - '0');
    return n;
}

/* The search target of a number (8 bytes) and of a city (20 bytes and room
 * for the position suffix that the search appends). */
static void number_target(char *t, uint32_t n) {
    char tmp[9];
    snprintf(tmp, sizeof tmp, "%08u", (unsigned)n);
    memcpy(t, tmp, 8);
}

static void city_target(char *t, const char *city) {
    memset(t, 0, 24);
    set_city(t, city);
}

/* Counts the records of one order and checks that each key is not below
 * (up) or above (down) the one before it. */
static long walk(int filno, int by_city, int up) {
    struct customer c, prev;
    long n = 0;
    int rc = up ? FRSREC(filno, &c) : LSTREC(filno, &c);
    while (rc == 0) {
        if (n > 0) {
            int cmp = by_city ? memcmp(c.city, prev.city, sizeof c.city) : memcmp(c.number, prev.number, 8);
            if (by_city ? (up ? cmp < 0 : cmp > 0) : (up ? cmp <= 0 : cmp >= 0)) {
                expect(0, by_city ? "city order" : "number order");
                return n;
            }
        }
        prev = c;
        n++;
        rc = up ? NXTREC(filno, &c) : PRVREC(filno, &c);
    }
    expect(rc == 101, "end of an order");
    return n;
}

static int customers(void) {
    ISEG byNumber[1] = {{0, 8, 0}};
    ISEG byCity[1] = {{8, 20, 0}};
    IIDX idx[2] = {
        {8, 0, 0, 0, 0, 1, byNumber, "ByNumber", NULL, NULL, NULL},
        {24, 0, 1, 0, 0, 1, byCity, "ByCity", "?_city.idx", NULL, NULL},
    };
    IFIL set = {"customers", -1, sizeof(struct customer), 0, 0, 2, 0, 0, idx, NULL, NULL, 0};
    uint32_t order[CUSTOMERS];
    uint32_t seed = 20240611u;
    struct customer c;
    char target[24];
    long rewritten = 0, deleted = 0, in_zurich = 0;
    int d, i, rc;

    /* Files an interrupted run may have left; "?_city.idx" names the index
     * file after the data file: customers.dat_city.idx. */
    remove("customers.dat");
    remove("customers.idx");
    remove("customers.dat_city.idx");
    rc = CREIFIL(&set);
    if (rc != 0) {
        fprintf(stderr, "CREIFIL failed: %d\n", rc);
        return 1;
    }
    d = set.tfilno;

    /* 1,000 customers in random order. */
    for (i = 0; i < CUSTOMERS; i++) order[i] = (uint32_t)(i + 1);
    for (i = CUSTOMERS - 1; i > 0; i--) {
        uint32_t j, t;
        seed = seed * 1103515245u + 12345u;
        j = (seed >> 8) % (uint32_t)(i + 1);
        t = order[i];
        order[i] = order[j];
        order[j] = t;
    }
    for (i = 0; i < CUSTOMERS; i++) {
        make_customer(&c, order[i], cities[order[i] % 10]);
        rc = ADDREC(d, &c);
        if (rc != 0) {
            fprintf(stderr, "ADDREC failed: %d\n", rc);
            return 1;
        }
    }
    expect(DATENT(d) == CUSTOMERS, "records in the data file");
    expect(IDXENT(d + 1) == CUSTOMERS && IDXENT(d + 2) == CUSTOMERS, "entries of the indexes");
    printf("customers added: %u\n", (unsigned)DATENT(d));

    /* Every order. */
    expect(walk(d + 1, 0, 1) == CUSTOMERS, "count by number");
    expect(walk(d + 1, 0, 0) == CUSTOMERS, "count by number backwards");
    expect(walk(d + 2, 1, 1) == CUSTOMERS, "count by city");
    expect(walk(d + 2, 1, 0) == CUSTOMERS, "count by city backwards");
    printf("read by number and by city, both ways: %d each\n", CUSTOMERS);

    /* Every tenth customer moves to Zurich; every 25th leaves. */
    for (i = 10; i <= CUSTOMERS; i += 10) {
        number_target(target, (uint32_t)i);
        if (EQLREC(d + 1, target, &c) != 0 || number_of(&c) != (uint32_t)i) {
            expect(0, "customer found by number");
            continue;
        }
        set_city(c.city, "Zurich");
        c.balance += 1;
        if (RWTREC(d, &c) == 0) rewritten++;
    }
    for (i = 25; i <= CUSTOMERS; i += 25) {
        number_target(target, (uint32_t)i);
        if (EQLREC(d + 1, target, &c) == 0 && DELREC(d) == 0) deleted++;
    }
    city_target(target, "Zurich");
    rc = GTEREC(d + 2, target, &c);
    while (rc == 0 && strcmp(c.city, "Zurich") == 0) {
        in_zurich++;
        rc = NXTREC(d + 2, &c);
    }
    printf("rewritten: %ld, deleted: %ld, customers now: %u, in Zurich: %ld\n", rewritten, deleted,
           (unsigned)DATENT(d), in_zurich);
    expect(rewritten == CUSTOMERS / 10, "rewrites");
    expect(deleted == CUSTOMERS / 25, "deletes");
    expect(DATENT(d) == CUSTOMERS - CUSTOMERS / 25, "records after the deletes");
    expect(IDXENT(d + 1) == DATENT(d) && IDXENT(d + 2) == DATENT(d), "entries after the deletes");
    expect(in_zurich == CUSTOMERS / 10 - CUSTOMERS / 50, "customers in Zurich");
    expect(walk(d + 1, 0, 1) == CUSTOMERS - CUSTOMERS / 25, "count by number at the end");
    {
        long n = 0;
        for (rc = FRSREC(d, &c); rc == 0; rc = NXTREC(d, &c)) n++;
        expect(rc == 101 && n == CUSTOMERS - CUSTOMERS / 25, "records in physical order");
    }

    rc = DELIFIL(&set);
    expect(rc == 0, "the set deleted");
    return 0;
}

int main(void) {
    char line[600];
    FILE *log;
    int rc = INTISAMX(64, 16, 8, 64, 0);
    if (rc != 0) {
        fprintf(stderr, "INTISAMX failed: %d\n", rc);
        return 1;
    }
    printf("engine started, instance: %s\n", WCHZARVO());
    zvStatusLogWrite("Zarvo demo started", 0);

    log = fopen("ZVSTATUS.QVS", "r");
    if (!log) {
        fprintf(stderr, "cannot read ZVSTATUS.QVS\n");
        CLISAM();
        return 1;
    }
    printf("status log:\n");
    while (fgets(line, sizeof line, log)) fputs(line, stdout);
    fclose(log);

    if (customers() != 0) failures++;

    rc = CLISAM();
    if (rc != 0) {
        fprintf(stderr, "CLISAM failed: %d\n", rc);
        return 1;
    }
    printf("engine stopped, instances left: %s\n", WCHZARVO() ? WCHZARVO() : "none");
    if (failures) {
        fprintf(stderr, "%d check(s) failed\n", failures);
        return 1;
    }
    printf("all counts and orders as expected\n");
    return 0;
}
