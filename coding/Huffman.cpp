#include "coding/Huffman.h"

#include <cstddef>

#include "coding/FrameLayout.h"
#include "platform/Fatal.h"

namespace ostrel {

namespace {

// Code values are written in binary so that they read like the bit strings they stand for.
constexpr HuffCode kWeightCodes[WEIGHT_TABLE_SIZE] = {
    {15, 0b000000000000001}, {14, 0b00000000000001}, {13, 0b0000000000001}, {10, 0b0000000101},
    {8, 0b00000011},         {6, 0b000011},          {6, 0b000010},         {5, 0b00100},
    {4, 0b1000},             {4, 0b0011},            {4, 0b0100},           {4, 0b0101},
    {3, 0b111},              {3, 0b110},             {3, 0b101},            {4, 0b1001},
    {4, 0b0111},             {4, 0b0110},            {5, 0b00101},          {5, 0b00010},
    {5, 0b00011},            {6, 0b000001},          {8, 0b00000010},       {9, 0b000000011},
    {10, 0b0000000010},      {10, 0b0000000011},     {10, 0b0000000100},    {11, 0b00000000001},
    {11, 0b00000000010},     {11, 0b00000000011},    {12, 0b000000000001},  {16, 0b0000000000000000},
    {16, 0b0000000000000001},
};

// Gains for long blocks of 2048 samples.
constexpr HuffCode kGainCodes2048[GAIN_TABLE_SIZE] = {
    {12, 0b000000000000}, {12, 0b000000000001}, {11, 0b00000000001}, {9, 0b000000001},
    {8, 0b00000001},      {6, 0b000001},        {5, 0b00011},        {4, 0b0101},
    {4, 0b0011},          {4, 0b0100},          {3, 0b110},          {3, 0b011},
    {3, 0b100},           {3, 0b101},           {3, 0b111},          {4, 0b0010},
    {5, 0b00001},         {5, 0b00010},         {7, 0b0000001},      {10, 0b0000000001},
};

// Gains for long blocks of 1024 samples.
constexpr HuffCode kGainCodes1024[GAIN_TABLE_SIZE] = {
    {9, 0b000000001},       {11, 0b00000000001},    {7, 0b0000001},         {5, 0b00001},
    {3, 0b010},             {3, 0b011},             {2, 0b11},              {2, 0b10},
    {3, 0b001},             {4, 0b0001},            {6, 0b000001},          {8, 0b00000001},
    {10, 0b0000000001},     {13, 0b0000000000011},  {14, 0b00000000000000}, {14, 0b00000000000001},
    {14, 0b00000000000010}, {14, 0b00000000000011}, {14, 0b00000000000100}, {14, 0b00000000000101},
};

// Gains for long blocks of 512 samples.
constexpr HuffCode kGainCodes512[GAIN_TABLE_SIZE] = {
    {5, 0b00001},           {10, 0b0000000001},     {4, 0b0001},            {2, 0b01},
    {1, 0b1},               {3, 0b001},             {6, 0b000001},          {7, 0b0000001},
    {8, 0b00000001},        {9, 0b000000001},       {13, 0b0000000000010},  {13, 0b0000000000011},
    {13, 0b0000000000100},  {13, 0b0000000000101},  {13, 0b0000000000110},  {13, 0b0000000000111},
    {14, 0b00000000000000}, {14, 0b00000000000001}, {14, 0b00000000000010}, {14, 0b00000000000011},
};

template <std::size_t N>
std::vector<HuffCode> Codebook(const HuffCode (&codes)[N]) {
  return std::vector<HuffCode>(codes, codes + N);
}

// Every window whose leading bits are the code of symbol n maps to n; a complete prefix code
// fills every entry exactly once.
std::vector<HuffDecEntry> DecodingTable(const std::vector<HuffCode>& codebook, unsigned char M,
                                        unsigned char* MaxLength) {
  std::vector<HuffDecEntry> table(std::size_t{1} << M, HuffDecEntry{0, 0});
  for (std::size_t n = 0; n < codebook.size(); ++n) {
    const int offset = M - codebook[n].length;
    const std::size_t largest = std::size_t{1} << offset;
    const std::size_t temp = static_cast<std::size_t>(codebook[n].code) << offset;
    for (std::size_t w = temp; w < temp + largest; ++w) {
      table[w] = HuffDecEntry{static_cast<unsigned char>(n), static_cast<unsigned char>(offset)};
    }
  }
  *MaxLength = M;
  return table;
}

}  // namespace

std::vector<HuffCode> GetHuffEnc00() { return Codebook(kWeightCodes); }
std::vector<HuffCode> GetHuffEnc01() { return Codebook(kGainCodes2048); }
std::vector<HuffCode> GetHuffEnc02() { return Codebook(kGainCodes1024); }
std::vector<HuffCode> GetHuffEnc03() { return Codebook(kGainCodes512); }

std::vector<HuffDecEntry> GetHuffDec00(unsigned char* MaxLength) {
  return DecodingTable(GetHuffEnc00(), 16, MaxLength);
}
std::vector<HuffDecEntry> GetHuffDec01(unsigned char* MaxLength) {
  return DecodingTable(GetHuffEnc01(), 12, MaxLength);
}
std::vector<HuffDecEntry> GetHuffDec02(unsigned char* MaxLength) {
  return DecodingTable(GetHuffEnc02(), 14, MaxLength);
}
std::vector<HuffDecEntry> GetHuffDec03(unsigned char* MaxLength) {
  return DecodingTable(GetHuffEnc03(), 14, MaxLength);
}

namespace {

// The gain codebook of a long block of `longsize` samples: 3 for 512, 2 for 1024, else 1.
int GainCodebook(int longsize) { return longsize == 512 ? 3 : longsize == 1024 ? 2 : 1; }

HuffDecTable SharedTable(std::vector<HuffDecEntry> (*build)(unsigned char*)) {
  HuffDecTable table;
  table.entries = build(&table.MaxLength);
  return table;
}

}  // namespace

std::vector<HuffCode> GetGainHuffEnc(int longsize) {
  const int book = GainCodebook(longsize);
  return book == 3 ? GetHuffEnc03() : book == 2 ? GetHuffEnc02() : GetHuffEnc01();
}

std::vector<HuffDecEntry> GetGainHuffDec(int longsize, unsigned char* MaxLength) {
  const int book = GainCodebook(longsize);
  return book == 3 ? GetHuffDec03(MaxLength) : book == 2 ? GetHuffDec02(MaxLength) : GetHuffDec01(MaxLength);
}

// Function-local statics: each is built once, by the first caller, and the others wait for it.
const HuffDecTable& SharedWeightHuffDec() {
  static const HuffDecTable table = SharedTable(GetHuffDec00);
  return table;
}

const HuffDecTable& SharedGainHuffDec(int longsize) {
  switch (GainCodebook(longsize)) {
    case 3: {
      static const HuffDecTable table = SharedTable(GetHuffDec03);
      return table;
    }
    case 2: {
      static const HuffDecTable table = SharedTable(GetHuffDec02);
      return table;
    }
    default: {
      static const HuffDecTable table = SharedTable(GetHuffDec01);
      return table;
    }
  }
}

int HuffDecode(Bitstream& in, const std::vector<HuffDecEntry>& table, unsigned char MaxLength) {
  OSTREL_DASSERT(MaxLength >= 1 && MaxLength <= 16);
  OSTREL_DASSERT(table.size() == (std::size_t{1} << MaxLength));
  const uint32_t window = in.getbits(MaxLength);
  const HuffDecEntry entry = table[window];
  if (entry.beyond > 0) in.forceback(window & ((1u << entry.beyond) - 1u), entry.beyond);
  return entry.symbol;
}

}  // namespace ostrel

