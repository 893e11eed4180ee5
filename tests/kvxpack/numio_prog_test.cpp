// Expression programs: registry, stack machine, operator semantics, listing.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "numio.h"

namespace {

using Cmd = NumCommand;

struct Op {
  Cmd command;
  double value = 0.0;
};

int cmd(Cmd c) { return static_cast<int>(c); }

int arity(Cmd c) {
  switch (c) {
    case Cmd::PUSHVAL:
      return 0;
    case Cmd::IF:
      return 3;
    case Cmd::NEG:
    case Cmd::NOT:
      return 1;
    default:
      return 2;
  }
}

class ProgTest : public ::testing::Test {
 protected:
  void SetUp() override { numprog_reset(); }
  void TearDown() override { numprog_reset(); }

  // Builds a fresh program "t" from `ops` and runs it; returns the value of
  // the top accumulator (NAN when the stack is empty).
  double run(const std::vector<Op> &ops, int *errval) {
    program = numprog_new("t");
    for (const Op &op : ops) {
      EXPECT_EQ(numprog_append_instruction(program, 0, cmd(op.command), arity(op.command), op.value,
                                           nullptr, nullptr),
                0);
    }
    dpprogram_run(program, errval);
    return program->CurrentAccumulator ? program->CurrentAccumulator->Value : NAN;
  }

  NumProg *program = nullptr;
};

std::string capture(const NumProg *program, int level, int verbose) {
  FILE *f = std::tmpfile();
  num_prog_print_list(f, program, level, verbose);
  std::rewind(f);
  std::string text;
  for (int c; (c = std::fgetc(f)) != EOF;) text += static_cast<char>(c);
  std::fclose(f);
  return text;
}

TEST_F(ProgTest, OperatorsFollowTheirNaNAndSignRules) {
  const double nan = NAN;
  const struct {
    Cmd op;
    double a, b, expected;
  } cases[] = {
      {Cmd::MUL, 3, 4, 12},    {Cmd::ADD, 1, 2, 3},      {Cmd::SUB, 1, 2, -1},
      {Cmd::DIV, 7, 2, 3.5},   {Cmd::REST, 7, 3, 1},     {Cmd::REST, -7, 3, 2},
      {Cmd::REST, 7, -3, -2},  {Cmd::REST, 7.5, 2, 1.5}, {Cmd::EQU, 1, 1, 1},
      {Cmd::EQU, nan, nan, 0}, {Cmd::NEQ, nan, nan, 1},  {Cmd::NEQ, 2, 2, 0},
      {Cmd::LE, 2, 2, 1},      {Cmd::LT, 2, 2, 0},       {Cmd::GE, 1, 2, 0},
      {Cmd::GT, 3, 2, 1},      {Cmd::LT, nan, 1, 0},     {Cmd::AND, 1, 2, 1},
      {Cmd::AND, 1, 0, 0},     {Cmd::AND, nan, 1, 1},    {Cmd::OR, 0, 0, 0},
      {Cmd::OR, 0, nan, 1},
  };
  int i = 0;
  for (const auto &c : cases) {
    SCOPED_TRACE(++i);
    int errval = -1;
    const double r = run({{Cmd::PUSHVAL, c.a}, {Cmd::PUSHVAL, c.b}, {c.op}}, &errval);
    EXPECT_EQ(errval, NumSuccess);
    EXPECT_EQ(r, c.expected) << numprog_cmd2str(cmd(c.op));
  }
}

TEST_F(ProgTest, OneAndThreeOperandInstructions) {
  const double nan = NAN;
  const struct {
    std::vector<Op> ops;
    double expected;
  } cases[] = {
      {{{Cmd::PUSHVAL, 0}, {Cmd::NOT}}, 1},
      {{{Cmd::PUSHVAL, 5}, {Cmd::NOT}}, 0},
      {{{Cmd::PUSHVAL, nan}, {Cmd::NOT}}, 0},
      {{{Cmd::PUSHVAL, 2}, {Cmd::NEG}}, -2},
      {{{Cmd::PUSHVAL, 1}, {Cmd::PUSHVAL, 2}, {Cmd::PUSHVAL, 3}, {Cmd::IF}}, 2},
      {{{Cmd::PUSHVAL, 0}, {Cmd::PUSHVAL, 2}, {Cmd::PUSHVAL, 3}, {Cmd::IF}}, 3},
      {{{Cmd::PUSHVAL, nan}, {Cmd::PUSHVAL, 2}, {Cmd::PUSHVAL, 3}, {Cmd::IF}}, 2},
      {{{Cmd::PI}}, 3.141592653589793},
  };
  int i = 0;
  for (const auto &c : cases) {
    SCOPED_TRACE(++i);
    int errval = -1;
    EXPECT_EQ(run(c.ops, &errval), c.expected);
    EXPECT_EQ(errval, NumSuccess);
  }
  int errval = -1;
  const double negative_zero = run({{Cmd::PUSHVAL, 0}, {Cmd::NEG}}, &errval);
  EXPECT_TRUE(std::signbit(negative_zero)) << "NEG flips the sign bit of 0";
}

TEST_F(ProgTest, FailuresReportTheirErrorValue) {
  const struct {
    std::vector<Op> ops;
    int errval;
  } cases[] = {
      {{}, NumNoInstruction},
      {{{Cmd::InValidNumCommand}}, NumNoInstruction},
      {{{Cmd::EndNumCommand}}, NumNoInstruction},
      {{{Cmd::NEG}}, NumNoAccumulator},
      {{{Cmd::SQRT}}, NumNoAccumulator},
      {{{Cmd::PUSHVAL, 1}, {Cmd::ADD}}, NumNoAccumulator},
      {{{Cmd::PUSHVAL, 1}, {Cmd::PUSHVAL, 1}, {Cmd::IF}}, NumNoAccumulator},
      {{{Cmd::PUSHVAL, 1}, {Cmd::PUSHVAL, 0}, {Cmd::DIV}}, NumDivByZero},
      {{{Cmd::PUSHVAL, 1}, {Cmd::PUSHVAL, 0}, {Cmd::REST}}, NumDivByZero},
      {{{Cmd::PUSHVAL, -1}, {Cmd::SQRT}}, NumDomainError},
  };
  int i = 0;
  for (const auto &c : cases) {
    SCOPED_TRACE(++i);
    int errval = -1;
    run(c.ops, &errval);
    EXPECT_EQ(errval, c.errval);
  }
}

TEST_F(ProgTest, StepReturnsMinusOneOnlyForMachineErrors) {
  NumProg *p = numprog_new("t");
  NumInstr instructions[] = {{cmd(Cmd::SQRT), 1, 0, nullptr},
                             {cmd(Cmd::PUSHVAL), 0, -4, nullptr},
                             {cmd(Cmd::SQRT), 1, 0, nullptr},
                             {-3, 0, 0, nullptr},
                             {99, 0, 0, nullptr}};
  const struct {
    int index;
    int result, errval;
  } cases[] = {{0, -1, NumNoAccumulator},
               {1, 0, NumSuccess},
               {2, 0, NumDomainError},
               {3, -1, NumNoInstruction},
               {4, -1, NumNoInstruction}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.index);
    int errval = -1;
    EXPECT_EQ(dpprogram_step(p, &instructions[c.index], &errval), c.result);
    EXPECT_EQ(errval, c.errval);
  }
  int errval = -1;
  EXPECT_EQ(dpprogram_step(nullptr, &instructions[1], &errval), -1);
  EXPECT_EQ(errval, NumProgramError);
  EXPECT_EQ(dpprogram_step(p, nullptr, &errval), -1);
  EXPECT_EQ(errval, NumNoInstruction);
  EXPECT_EQ(dpprogram_run(nullptr, &errval), -1);
  EXPECT_EQ(errval, NumProgramError);
}

TEST_F(ProgTest, AccumulatorsAreNumberedAndKeptForReuse) {
  int errval = -1;
  EXPECT_EQ(run({{Cmd::PUSHVAL, 1}, {Cmd::PUSHVAL, 2}, {Cmd::ADD}}, &errval), 3);
  ASSERT_EQ(program->AccumulatorList.size(), 2u);
  EXPECT_EQ(program->CurrentAccumulator, &program->AccumulatorList[0]);
  EXPECT_EQ(program->AccumulatorList[0].Number, 1);
  EXPECT_EQ(program->AccumulatorList[1].Number, 2);
  EXPECT_EQ(program->AccumulatorList[1].Value, 2) << "a popped accumulator keeps its value";
  dpprogram_run(program, &errval);
  EXPECT_EQ(program->AccumulatorList.size(), 2u) << "a second run reuses the chain";
  EXPECT_EQ(program->CurrentAccumulator->Value, 3);
  EXPECT_EQ(numprog_down_accumulator(program), nullptr);
  EXPECT_EQ(numprog_down_accumulator(program), nullptr) << "popping an empty stack stays empty";
}

TEST_F(ProgTest, PushAddressReadsTheVariableWhenRun) {
  NumProg *p = numprog_new("vars");
  NumVar *v = nullptr;
  ASSERT_EQ(numprog_define_variable(p, "x", 2.0, &v), 0);
  ASSERT_EQ(numprog_append_instruction(p, 0, cmd(Cmd::PUSHADDR), 0, 0, &v->Value, nullptr), 0);
  v->Value = 5.0;
  int errval = -1;
  dpprogram_run(p, &errval);
  EXPECT_EQ(errval, NumSuccess);
  EXPECT_EQ(p->CurrentAccumulator->Value, 5.0);
  EXPECT_EQ(numprog_define_variable(nullptr, "x", 1, nullptr), -1);
}

TEST_F(ProgTest, RegistryReplacesByNameAndKeepsDescendingOrder) {
  NumProg *first = numprog_new("str2double");
  ASSERT_NE(first, nullptr);
  numprog_append_instruction(first, 0, cmd(Cmd::PUSHVAL), 0, 1, nullptr, nullptr);
  NumProg *second = numprog_new("str2double");
  ASSERT_NE(second, nullptr);
  EXPECT_TRUE(second->InstructionList.empty()) << "the new program starts empty";
  numprog_new("alpha");
  numprog_new("zeta");
  EXPECT_EQ(capture(nullptr, 1, 0),
            " Program             = 'zeta'\n"
            " Program             = 'str2double'\n"
            " Program             = 'alpha'\n");

  NumProg *found = nullptr;
  EXPECT_EQ(numprog_search("alpha", &found), 0);
  EXPECT_NE(found, nullptr);
  EXPECT_EQ(numprog_search("beta", &found), 0);
  EXPECT_EQ(found, nullptr);
  EXPECT_EQ(numprog_search(nullptr, &found), -1);

  NumProg *again = nullptr;
  EXPECT_EQ(numprog_insert("zeta", &again), 0);
  EXPECT_EQ(numprog_search("zeta", &found), 0);
  EXPECT_EQ(again, found) << "insert hands back the existing program";

  EXPECT_EQ(numprog_free(found), 0);
  NumProg stranger;
  EXPECT_EQ(numprog_free(&stranger), -1);
  EXPECT_EQ(numprog_free(nullptr), 0);
  EXPECT_EQ(numprog_new(nullptr), nullptr);
}

TEST_F(ProgTest, AppendRejectsUnknownModes) {
  NumProg *p = numprog_new("t");
  NumInstr *instruction = nullptr;
  EXPECT_EQ(numprog_append_instruction(p, 1, cmd(Cmd::PUSHVAL), 0, 1, nullptr, &instruction), 0);
  EXPECT_EQ(p->CompiledList.size(), 1u);
  EXPECT_EQ(numprog_append_instruction(p, 2, cmd(Cmd::PUSHVAL), 0, 1, nullptr, &instruction), -1);
  EXPECT_EQ(instruction, nullptr);
  EXPECT_EQ(numprog_append_instruction(nullptr, 0, 1, 0, 1, nullptr, nullptr), -1);
}

TEST_F(ProgTest, CommandNamesAndInstructionTexts) {
  EXPECT_STREQ(numprog_cmd2str(0), "Invalid");
  EXPECT_STREQ(numprog_cmd2str(cmd(Cmd::REST)), "REST");
  EXPECT_STREQ(numprog_cmd2str(cmd(Cmd::DEGC2DEGF)), "DEGC2DEGF");
  EXPECT_STREQ(numprog_cmd2str(52), "Invalid");
  EXPECT_STREQ(numprog_cmd2str(-1), "Invalid");

  char buffer[64];
  NumInstr push{cmd(Cmd::PUSHVAL), 0, 1.5, nullptr};
  NumInstr add{cmd(Cmd::ADD), 2, 0, nullptr};
  EXPECT_STREQ(numprog_ins2str(buffer, sizeof buffer, &push), "   PUSHVAL         1.5");
  EXPECT_STREQ(numprog_ins2str(buffer, sizeof buffer, &add), "       ADD             (2 args)");
  EXPECT_STREQ(numprog_ins2str(buffer, 49, &add), "") << "too small a buffer gets no text";
}

TEST_F(ProgTest, ListingShowsInstructionsAndAccumulatorsAboveLevelOne) {
  int errval = -1;
  run({{Cmd::PUSHVAL, 1}, {Cmd::PUSHVAL, 2}, {Cmd::ADD}}, &errval);
  EXPECT_EQ(capture(program, 1, 0), " Program             = 't'\n");
  EXPECT_EQ(capture(program, 2, 0),
            " Program             = 't'\n"
            "  InstructionList\n"
            "     PUSHVAL           1\n"
            "     PUSHVAL           2\n"
            "         ADD             (2 args)\n"
            "  Accumulator #1 = 3\n"
            "  Accumulator #2 = 2\n");
  EXPECT_NE(capture(program, 2, 1).find("Accumulator #1"), std::string::npos);
}

}  // namespace
