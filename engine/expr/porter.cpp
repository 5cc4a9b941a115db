// The Porter stemming algorithm (M. F. Porter, 1980): suffixes are
// stripped in five steps, each rule guarded by the measure m of the stem
// that would remain: the number of vowel-consonant sequences in it, the
// stem read as [C](VC)^m[V].
//
// The word is b[0..k]; while a rule is tried, j marks the end of the stem
// that the suffix leaves. Letters a, e, i, o, u are vowels; y is a vowel
// after a consonant and a consonant at the start or after a vowel; every
// other byte is a consonant. As in the reference form of the algorithm,
// words of at most two letters are left alone, "bli" becomes "ble" and
// "logi" becomes "log" in step 2.
#include <cstring>
#include <initializer_list>

#include "engine/expr/tokenizer.h"

namespace zv {

namespace {

bool cons(const PorterStemmer *z, int32_t i) {
    switch (z->b[i]) {
    case 'a': case 'e': case 'i': case 'o': case 'u': return false;
    case 'y': return i == 0 ? true : !cons(z, i - 1);
    default: return true;
    }
}

// The measure of b[0..j].
int measure(const PorterStemmer *z) {
    int n = 0;
    int32_t i = 0;
    // Leading consonants.
    while (i <= z->j && cons(z, i)) i++;
    for (;;) {
        // A run of vowels, then a run of consonants: one sequence.
        while (i <= z->j && !cons(z, i)) i++;
        if (i > z->j) return n;
        while (i <= z->j && cons(z, i)) i++;
        n++;
        if (i > z->j) return n;
    }
}

bool vowel_in_stem(const PorterStemmer *z) {
    for (int32_t i = 0; i <= z->j; i++)
        if (!cons(z, i)) return true;
    return false;
}

// b[i-1..i] is a double consonant.
bool double_cons(const PorterStemmer *z, int32_t i) {
    return i >= 1 && z->b[i] == z->b[i - 1] && cons(z, i);
}

// b[i-2..i] is consonant-vowel-consonant and its last consonant is not w,
// x or y: the stem ends in a short syllable (hop, not hoop).
bool cvc(const PorterStemmer *z, int32_t i) {
    if (i < 2 || !cons(z, i) || cons(z, i - 1) || !cons(z, i - 2)) return false;
    char c = z->b[i];
    return c != 'w' && c != 'x' && c != 'y';
}

// Whether b[0..k] ends with s; when it does, j marks the stem before it.
bool ends(PorterStemmer *z, const char *s) {
    const int32_t n = int32_t(strlen(s));
    if (n > z->k + 1 || memcmp(z->b + z->k - n + 1, s, size_t(n)) != 0) return false;
    z->j = z->k - n;
    return true;
}

// Replaces b[j+1..k] by s.
void set_to(PorterStemmer *z, const char *s) {
    const int32_t n = int32_t(strlen(s));
    memcpy(z->b + z->j + 1, s, size_t(n));
    z->k = z->j + n;
}

// A rule (m > 0) suffix -> s whose suffix matched.
void replace_if_measured(PorterStemmer *z, const char *s) {
    if (measure(z) > 0) set_to(z, s);
}

// Tries the rules of a step in order; the first suffix that matches ends
// the step, whether or not its condition held.
struct Rule {
    const char *suffix;
    const char *with;
};

template <size_t N>
void first_rule(PorterStemmer *z, const Rule (&rules)[N]) {
    for (const Rule &r : rules) {
        if (ends(z, r.suffix)) {
            replace_if_measured(z, r.with);
            return;
        }
    }
}

// Plurals and -ed or -ing.
void step1ab(PorterStemmer *z) {
    char *b = z->b;
    if (b[z->k] == 's') {
        if (ends(z, "sses")) z->k -= 2;
        else if (ends(z, "ies")) set_to(z, "i");
        else if (b[z->k - 1] != 's') z->k--;
    }
    if (ends(z, "eed")) {
        if (measure(z) > 0) z->k--;
    } else if ((ends(z, "ed") || ends(z, "ing")) && vowel_in_stem(z)) {
        z->k = z->j;
        if (ends(z, "at")) {
            set_to(z, "ate");
        } else if (ends(z, "bl")) {
            set_to(z, "ble");
        } else if (ends(z, "iz")) {
            set_to(z, "ize");
        } else if (double_cons(z, z->k)) {
            char c = b[z->k];
            if (c != 'l' && c != 's' && c != 'z') z->k--;
        } else {
            z->j = z->k;
            if (measure(z) == 1 && cvc(z, z->k)) set_to(z, "e");
        }
    }
}

// A final y after a vowel in the stem becomes i.
void step1c(PorterStemmer *z) {
    if (ends(z, "y") && vowel_in_stem(z)) z->b[z->k] = 'i';
}

// Double suffixes to single ones.
void step2(PorterStemmer *z) {
    static const Rule a[] = {{"ational", "ate"}, {"tional", "tion"}};
    static const Rule c[] = {{"enci", "ence"}, {"anci", "ance"}};
    static const Rule e[] = {{"izer", "ize"}};
    static const Rule l[] = {{"bli", "ble"}, {"alli", "al"}, {"entli", "ent"}, {"eli", "e"}, {"ousli", "ous"}};
    static const Rule o[] = {{"ization", "ize"}, {"ation", "ate"}, {"ator", "ate"}};
    static const Rule s[] = {{"alism", "al"}, {"iveness", "ive"}, {"fulness", "ful"}, {"ousness", "ous"}};
    static const Rule t[] = {{"aliti", "al"}, {"iviti", "ive"}, {"biliti", "ble"}};
    static const Rule g[] = {{"logi", "log"}};
    switch (z->b[z->k - 1]) {
    case 'a': first_rule(z, a); break;
    case 'c': first_rule(z, c); break;
    case 'e': first_rule(z, e); break;
    case 'l': first_rule(z, l); break;
    case 'o': first_rule(z, o); break;
    case 's': first_rule(z, s); break;
    case 't': first_rule(z, t); break;
    case 'g': first_rule(z, g); break;
    default: break;
    }
}

// -ic-, -full, -ness and the like.
void step3(PorterStemmer *z) {
    static const Rule e[] = {{"icate", "ic"}, {"ative", ""}, {"alize", "al"}};
    static const Rule i[] = {{"iciti", "ic"}};
    static const Rule l[] = {{"ical", "ic"}, {"ful", ""}};
    static const Rule s[] = {{"ness", ""}};
    switch (z->b[z->k]) {
    case 'e': first_rule(z, e); break;
    case 'i': first_rule(z, i); break;
    case 'l': first_rule(z, l); break;
    case 's': first_rule(z, s); break;
    default: break;
    }
}

// -ant, -ence and the like, taken off a stem of measure above 1.
void step4(PorterStemmer *z) {
    auto any = [z](std::initializer_list<const char *> suffixes) {
        for (const char *s : suffixes)
            if (ends(z, s)) return true;
        return false;
    };
    bool found = false;
    switch (z->b[z->k - 1]) {
    case 'a': found = any({"al"}); break;
    case 'c': found = any({"ance", "ence"}); break;
    case 'e': found = any({"er"}); break;
    case 'i': found = any({"ic"}); break;
    case 'l': found = any({"able", "ible"}); break;
    case 'n': found = any({"ant", "ement", "ment", "ent"}); break;
    case 'o':
        // -ion only after s or t.
        found = (ends(z, "ion") && z->j >= 0 && (z->b[z->j] == 's' || z->b[z->j] == 't')) || ends(z, "ou");
        break;
    case 's': found = any({"ism"}); break;
    case 't': found = any({"ate", "iti"}); break;
    case 'u': found = any({"ous"}); break;
    case 'v': found = any({"ive"}); break;
    case 'z': found = any({"ize"}); break;
    default: break;
    }
    if (found && measure(z) > 1) z->k = z->j;
}

// A final -e, and -ll to -l.
void step5(PorterStemmer *z) {
    z->j = z->k;
    if (z->b[z->k] == 'e') {
        int a = measure(z);
        if (a > 1 || (a == 1 && !cvc(z, z->k - 1))) z->k--;
    }
    if (z->b[z->k] == 'l' && double_cons(z, z->k) && measure(z) > 1) z->k--;
}

}  // namespace

int32_t porter_stem(PorterStemmer *z, char *word, int32_t len) {
    if (len <= 2) return len;
    z->b = word;
    z->k = len - 1;
    z->j = z->k;
    step1ab(z);
    if (z->k > 0) {
        step1c(z);
        step2(z);
        step3(z);
        step4(z);
        step5(z);
    }
    return z->k + 1;
}

}  // namespace zv
