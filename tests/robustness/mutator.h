// Seeded mutations of valid inputs, for the robustness tests: every round
// takes one of a format's sample inputs and changes it a few times (bits,
// bytes, cuts, repeats, splices of the format's own tokens, huge numbers).
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

class mutator {
public:
    // `tokens`: pieces of the format worth splicing in (tags, separators,
    // escapes); a few general ones are always added.
    mutator(uint32_t seed, std::vector<std::string> tokens);

    // One to four changes of `sample`.
    std::string mutate(const std::string& sample);
    // One to four element texts or attribute values of an XML document
    // replaced by hostile values (huge, negative, long, malformed dates and
    // versions, paths, formats), leaving the document well-formed.
    std::string mutate_values(const std::string& document);
    uint32_t below(uint32_t n) { return n ? static_cast<uint32_t>(random_() % n) : 0; }

private:
    void change(std::string& s);
    std::mt19937 random_;
    std::vector<std::string> tokens_;
};

// How many rounds each format gets: QM_MUTATIONS when set (the long mode),
// else 2000.
int mutation_rounds();
// The seed of round `round` of a format: the same for every run, so a failing
// round can be run again alone (QM_MUTATION_ROUND=n runs only round n).
uint32_t round_seed(const char* format, int round);
// Whether round `round` is to run (all, or the one QM_MUTATION_ROUND names).
bool round_selected(int round);
