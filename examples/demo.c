/* Demo of the Zarvo engine: registers an engine instance, writes an entry to
 * the status log "ZVSTATUS.QVS", prints the instance id and the entry, and
 * removes the instance. */
#include <stdio.h>

#include "zarvo/zarvo.h"

int main(void) {
    const char *id = "demo";
    char line[600];
    FILE *log;
    int rc = REGZARVO(id);
    if (rc != 0) {
        fprintf(stderr, "REGZARVO failed: %d\n", rc);
        return 1;
    }
    printf("instance: %s\n", WCHZARVO());
    zvStatusLogWrite("Zarvo demo started", 0);

    log = fopen("ZVSTATUS.QVS", "r");
    if (!log) {
        fprintf(stderr, "cannot read ZVSTATUS.QVS\n");
        return 1;
    }
    printf("status log:\n");
    while (fgets(line, sizeof line, log)) fputs(line, stdout);
    fclose(log);

    rc = UNRZARVO(id);
    if (rc != 0) {
        fprintf(stderr, "UNRZARVO failed: %d\n", rc);
        return 1;
    }
    printf("instance removed\n");
    return 0;
}
