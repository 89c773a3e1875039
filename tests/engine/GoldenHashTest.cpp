// Golden hashes: the engine over a fixed grid of inputs (every sampling
// layout, whole and partial MCUs, restart intervals, optimised tables, EXIF
// with a thumbnail, a multi-picture file, damaged files), in every mode, with
// partial edges kept and trimmed. Per input and mode, everything a host sees
// of both passes (results, message texts and levels, the non-standard table
// notice, progress maximum and positions in order, the bytes written, a read
// error) is hashed with SHA-256 and compared with the hash pinned below, so
// that any change of those is deliberate. Every engine setting must give the
// same hash: one thread, several threads on however small an image, and
// several threads with the index pass alone.
//
// PLUME_GOLDEN_PRINT=1 prints the table of the engine as it is, to paste here
// after a deliberate change.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "EngineTestSupport.h"
#include "fixtures/ExifBuilder.h"
#include "fixtures/Fixtures.h"
#include "fixtures/MultiPictureBuilder.h"
#include "fixtures/Sha256.h"

namespace plume::test {
namespace {

using namespace fixtures;

struct TGoldenInput {
    std::string name;
    TBytes jpeg;
};

TExifOptions ExifWithThumbnail(std::uint32_t width, std::uint32_t height) {
    TExifOptions exif;
    exif.ifd0 = TypicalIfd0(6);
    exif.exifIfd = TypicalExifIfd(width, height);
    exif.ifd1 = JpegThumbnailIfd1(24, 16);
    TEncodeOptions thumbnail;
    thumbnail.Size(24, 16).Sampling(TSampling::k422);
    thumbnail.writeJfif = false;
    thumbnail.seed = 5;
    exif.thumbnail = EncodeJpeg(thumbnail);
    return exif;
}

// The grid of encoded inputs, five per sampling layout: whole MCUs without
// restart markers (the copy and the half turn decoded once), partial MCUs
// with optimised tables (the index pass, trimmed edges), an interval of one
// MCU row (intervals held whole or walked), an interval of one MCU on
// partial MCUs, and an interval of three MCUs with optimised tables and EXIF
// with a thumbnail.
void AddEncodedGrid(std::vector<TGoldenInput>& inputs) {
    struct TVariant {
        const char* name;
        bool partial;
        int restart;  // -1: one MCU row
        bool optimised;
        bool exif;
    };
    const TVariant variants[] = {{"Whole", false, 0, false, false},
                                 {"PartialOptimised", true, 0, true, false},
                                 {"WholeRowIntervals", false, -1, false, false},
                                 {"PartialInterval1", true, 1, false, false},
                                 {"WholeInterval3OptimisedExif", false, 3, true, true}};
    std::uint32_t seed = 11;
    for (const TSampling sampling : kAllSamplings) {
        for (const TVariant& variant : variants) {
            TEncodeOptions options;
            options.Sampling(sampling);
            options.Size(variant.partial ? 61 : 64, variant.partial ? 37 : 48);
            options.seed = seed++;
            options.optimizeCoding = variant.optimised;
            const TMcuSize mcu = McuPixels(options.sampling);
            options.restartInterval = variant.restart >= 0
                                          ? variant.restart
                                          : (options.width + mcu.width - 1) / mcu.width;
            TBytes jpeg = EncodeJpeg(options);
            if (variant.exif)
                jpeg = InsertSegmentAfterSoi(
                    jpeg,
                    BuildExif(ExifWithThumbnail(static_cast<std::uint32_t>(options.width),
                                                static_cast<std::uint32_t>(options.height)))
                        .Segment(),
                    true);
            inputs.push_back({SamplingName(sampling) + variant.name, std::move(jpeg)});
        }
    }
}

// A larger 4:2:0 photo with EXIF, XMP and a multi-picture index listing a
// large thumbnail and a gain map, so that the threads get several parts.
TBytes MultiPicturePhoto() {
    TEncodeOptions options;
    options.Size(200, 136).Sampling(TSampling::k420);
    options.writeJfif = false;
    options.seed = 3;
    TBytes primary = EncodeJpeg(options);
    TXmpOptions xmp;
    xmp.orientation = 6;
    xmp.imageSize = {{200, 136}};
    xmp.pixelSize = {{200, 136}};
    primary = InsertSegmentAfterSoi(primary, XmpSegment(BuildXmpPacket(xmp)));
    primary = InsertSegmentAfterSoi(primary, BuildExif(ExifWithThumbnail(200, 136)).Segment());
    TEncodeOptions secondary;
    secondary.Size(40, 24).Sampling(TSampling::k422);
    secondary.writeJfif = false;
    TMultiPictureOptions picture;
    picture.images.push_back({kMpLargeThumbnail, EncodeJpeg(secondary)});
    secondary.Sampling(TSampling::kGrey);
    picture.images.push_back({kMpUndefined, EncodeJpeg(secondary)});
    return BuildMultiPicture(primary, picture);
}

// Inputs that end in a refusal or the read error, for the messages.
void AddDamaged(std::vector<TGoldenInput>& inputs) {
    TEncodeOptions options;
    options.Size(48, 32).Sampling(TSampling::k420);
    options.seed = 9;
    const TBytes photo = EncodeJpeg(options);
    const std::size_t scan = *ScanDataOffset(photo);
    const std::size_t middle = scan + (photo.size() - scan) / 2;

    inputs.push_back({"CutInTheScan", TBytes(photo.begin(), photo.begin() + middle)});
    inputs.push_back({"MarkerInTheScan", InsertBytes(photo, middle, {0xFF, 0xD3})});
    TBytes garbage = photo;
    for (std::size_t i = middle; i < middle + 6; ++i) garbage[i] = 0xFE;
    inputs.push_back({"BadCodes", garbage});
    options.progressive = true;
    inputs.push_back({"Progressive", EncodeJpeg(options)});
    inputs.push_back({"DcOutOfRange", RisingDcFile(17)});
    inputs.push_back({"DcWithoutCode", RisingDcFile(15)});
}

const std::vector<TGoldenInput>& GoldenInputs() {
    static const std::vector<TGoldenInput> inputs = [] {
        std::vector<TGoldenInput> all;
        AddEncodedGrid(all);
        all.push_back({"MultiPicture", MultiPicturePhoto()});
        AddDamaged(all);
        return all;
    }();
    return inputs;
}

// One engine setting of the grid.
struct TSetting {
    const char* name;
    std::function<void(TEngineRun&)> apply;
};
const TSetting kSettings[] = {
    {"one thread", [](TEngineRun& run) { run.UseThreads(1); }},
    {"three threads", [](TEngineRun& run) { run.UseThreads(3); }},
    {"three threads, index pass",
     [](TEngineRun& run) {
         run.UseThreads(3);
         run.options.Schemes.intervalPass = false;
         run.options.Schemes.halfTurnOnce = false;
     }},
};

void AddRecords(TSha256& hash, const char* what, const std::vector<int>& values) {
    std::string text = what;
    for (const int value : values) {
        text += ' ';
        text += std::to_string(value);
    }
    hash.Add(text + "\n");
}

void AddMessages(TSha256& hash, const std::vector<TMessage>& messages) {
    for (const TMessage& message : messages)
        hash.Add("message " + std::to_string(message.level) + " " + message.text + "\n");
}

// Both passes on one input in one mode, partial edges kept then trimmed (as
// the application sets the engine for its edge policies), hashed.
std::string PassesHash(TEngineRun& run, const TBytes& jpeg, std::uint8_t mode) {
    TSha256 hash;
    for (const bool trim : {false, true}) {
        run.options.TrimPartialEdges = trim;
        run.options.AllowBreakDCF = trim;
        run.options.WarnPartialMcu = !trim;
        run.ClearRecords();
        run.output.clear();
        hash.Add(trim ? "trimmed\n" : "kept\n");
        // A pass that runs out of input ends there, with the read error and
        // without output.
        const bool valid = run.Validate(jpeg);
        if (!run.InputEnded()) {
            hash.Add(valid ? "valid\n" : "invalid\n");
            AddMessages(hash, run.messages);
            hash.Add("moves partial edge " +
                     std::to_string(run.engine.MovesPartialEdge(mode) ? 1 : 0) + "\n");
            run.ClearRecords();
            if (valid) {
                const bool rotated = run.Rotate(jpeg, mode);
                if (!run.InputEnded()) hash.Add(rotated ? "rotated\n" : "refused\n");
            }
        }
        if (run.InputEnded()) {
            hash.Add("read error ");
            hash.Add(kStreamReadError);
            hash.Add("\n");
            run.output.clear();
        }
        AddMessages(hash, run.messages);
        AddRecords(hash, "non-standard tables", {run.nonStandardHuffman});
        AddRecords(hash, "progress maximum", run.progressMax);
        AddRecords(hash, "progress", run.progress);
        hash.Add("output " + std::to_string(run.output.size()) + "\n");
        hash.Add(run.output.data(), run.output.size());
    }
    return hash.HexDigest();
}

// The hashes of the engine as it was when the grid was made, per input and mode 0 to 7.
const std::map<std::string, std::vector<std::string>> kGolden = {
    {"444Whole",
     {"14008e2afae06632a24e9f5dcc375bb2495d1826885464580141cbd99407ef39",
      "686f5b82a3dc88100f6994f10e0ea795c95ccd3119e830e026a407f8c79fd968",
      "de82ffb7be1b539ebd75f56e27333ef18e7654a1bc55da5a432005f7b43cccd6",
      "cacf681fef9429aa9984384d9651e3d151eb8c32df03f82bb7e193cd283a7951",
      "959c55dfff2a69eb37f372d35f8ce8e55352f2ab84c0ea1c685b99b34afd2cf0",
      "ac2328a089839b58cffcec50fc5a4d0f4073af66b9bb83b0d7fac137fbae527a",
      "699c86f9d48775a41d73de2b2a03b937a8a71b2e0ce471fb3389a95e17d103f0",
      "766ee1c701d28813ac2633d5b3de4baa43531d0e330bce82256a6eb0c91c520c"}},
    {"444PartialOptimised",
     {"434b30b0298605710b5f2647bb34786106a57077e9c9df2910a92124fd46988f",
      "05d906a4dac65fe130f414d898723ce4f08afa7582cf66f999dbec817ccab376",
      "924fa9c503d9abf780ac8e3af6ae0cd79d7e62bd334ae107d01c5cd970b64da0",
      "46b73f26b052cda765332d2f0431b4f0ac86721b212bbd7ae2dac3dac4fb1e47",
      "c35b1218e2345f7895dadfa0b24e4ad4491b82bdafd6d27f97159ad736ae3818",
      "674f4f8c5cccf2ce916d19d51f66fa07ca2fc9e3020fd9cfb9b2f161ccd072ce",
      "73a9d467f7d6b14026025acd125ee9a2d7fadb266d75cae3bdcb3daf74edd25f",
      "e9c8f9297b8a4b7e757c538f37b317ea1a1f5c06db173843a700f3954b7b4663"}},
    {"444WholeRowIntervals",
     {"3055c3466ee7546dadee7e83b2b0b296786d3f4c20673c34f3de14e3b2b903ff",
      "e738f2fb31c8656dbf2c602bcf5815f0a8d4f99b2172b3a0997a9416fa4a97f4",
      "1bb4f7875af3918b4565ac94ab37667a8fb8cc409cd0a4eb17644d898bc09c05",
      "6a262ae6e64a097f4890b77ba932af2f380e3f480b0491d0440fec3c2bf8cc7d",
      "e3d38346d3640620748e3e08d9f12d596229eab6afc1f22cb221f31061f831ef",
      "ba08133bb11d568b1d76170e3793320ddfab8fe924eb8e6ffb9b1f600ef49c1a",
      "b20239abf20859f892e30f69399ad66f761912eab7206f0f05e7875360f4b755",
      "7b7e00b48c31f1dd513f37d2cd55b8d80f9972890423222e12474af576a00716"}},
    {"444PartialInterval1",
     {"f5380bdc285428c2c6bd1590dc72f7a29cd8a5e8299c93e32721205464b990ce",
      "ff5a7773f28ef54c1af0d1a3a9b27af54bf822d6560277ecf6f7968ed1ba5704",
      "52e697c0ebae5a86e917775f328c1a4c586c96dd44f3fbdd2acf765cc04ccf97",
      "067523252f0a0a4d497efe31875640c56ac9c088ed8c795d86862b8d545e0fe3",
      "255555bdb392c84fa5fd9ce6bac26f132da9b935383d37ccf7e4c359e73402a5",
      "4533f747215effd57693d85af7ed791c5a0b2e5cc26aa9ac1e3eb22672a96d6d",
      "14e95b7669301f0e232dc1929c8a00d9646b32b942da07c17adf38fab5f312ab",
      "19b81319b88419a4247aba227a5aa678967a4f0313815f961f7996ea4d585e3a"}},
    {"444WholeInterval3OptimisedExif",
     {"abb7eaf2b6aea25343e52664cac085426e0bd6fef1dbd3ced1508e83cafdcd17",
      "b7f88095c8ce2bb84dac6b68fbdd5b8592ae846d1f6166a6594733d4b80ecf1e",
      "dcf282e847c0f22b212de64a90b2e7204e92faea154d47cc3de01965361bd905",
      "f51d26b4004a153931f1d31c50dab1eb81883da805049c727c0f37ac266affeb",
      "a5c6812734e2a9d03847cbe2bd246057d8b749bbb60dc3432f0df071489d4098",
      "ee593121dbcf32eae3a5e5f589ef7168edab1ddec785ad6bf520e4ebf0524785",
      "fe29653b2ffad5d71eeefe214765049f1c61939ce2a9ca11de9e7f39e731864a",
      "4ce721274863063422d7d6c6868dfa48240c048a8ccbf2752be3ec78e46e6f5e"}},
    {"422Whole",
     {"fbb49f85505573abaef2fefa1bc93114659757a23deb4a76124a680e84e37377",
      "b51d8fc1478482accff7ec180aca7632084dce633c582697f1b5fa51ef5c1615",
      "3c24462921c95d6b591d1e26ac763b13d9837ef2dee833885fc2b98bb3f542c9",
      "aeed1ee1c54f94868dd77f4ec354e609f87fa247841d499c03e8da8c57568f1b",
      "6c2bb6e35ca4822d24f1b9dcec3ba707aedd52b140e277807495f8f385db9a29",
      "ebeb8e6ab41b53f7eb0c2664a1a3d1e772ed02801c7031cc72d052c9be0f0780",
      "09929252ff6bd89dcc9d6700c7f55512e7d080dba850c379a6e2ae3f803945a0",
      "45959d8038612aacc17ee04c07ab945271c4789dfe350684f55577508eca05c7"}},
    {"422PartialOptimised",
     {"235b02a0ead301180f404286e0b3703617f51216e79b311c7099ed4ca77f4f02",
      "d56176978c81d011317b4f519f856151475e84318ae5d22ab0ab7d0fd4cb6d3a",
      "4ad8e608e0fe3aff8615f08e461aa31b2b2842a00d6112838fb318f1b92c2ea7",
      "b6e0372931d0124fa7fa59e5dc9e33a59d58c0d370498846dff93a7ad1d970c3",
      "7dc6af783990e280a732bd9f1f3b2536ddcf0a006a9fd2c37d5a440cf4b79a49",
      "e40bf3f9531d571a3a381077c8e3c23d3cb0e7103b3c15b6031d42478e45e9f5",
      "59ebd051d1ca0f7592aed3306f7201b56dda27b6a1f35a3241b3e2a0d60274b3",
      "bb9945c37aba66d5aa1cbb966625a715b8d1220400d5f028026a240e7a82b20f"}},
    {"422WholeRowIntervals",
     {"bf94b8515e26a5a7f366d310a8a50e631d1ed1c0f3e0474cc20c2b8cee8f0965",
      "6512b4d2cc1053c7a9390370effd416419464c0c6943e7b8aeb36e82c6eaef5a",
      "da0e5f8388e98dc96a0c8f14f7594045e76438ea6c56f110b7185ee58cac5a44",
      "850bc4b04d7a14098649bc82a7fc52e2775fdb524452e0ab154009766d36749e",
      "578cc26d4d68d3ca634751bd68c405650247b2fcf0781bc33d12c24b56243c29",
      "cd12d58603b4ba797ee5f8a771022b62fe51a24270af52e1957659de30a8ce64",
      "cd532125561441ac22710d9b92fa46d1e21465a342efc89ba0aa80fea63c1b85",
      "48d213ab9ca898fad94cd11ed7f26db129cc7439b3c48d6e88e84c8ca2ce9917"}},
    {"422PartialInterval1",
     {"7cc88d9447cf617e4738374c04073386652fbf1c16b4730b67127f608332e8b9",
      "f144cf9ae26dd9953dcdb4a98dc92a21d81781f6cb3430e77a7947c6d6c3183e",
      "917c296d528d050129c3833c30512f62da19ecd74ff736e4c3005c86af682aa6",
      "9e622b890f2d3200f31dcf21420f6a97957d6cdb5bef3774a89786d902a817b8",
      "249219cd0698afe9b965f64d3f8b28effe5f89f782439fe73f4e173875d90778",
      "ce42d78576623a83dcf7166afd7e50bd22effc110271a8d393802532a6d36742",
      "e0a66c5f62462c0f530ae0b839567c469304ebfe2f319966b086c2840c4480a6",
      "61ee62e983f7a4cdf071ca99821f3924dda872971b2e4e53fcc2b68c0dd0e200"}},
    {"422WholeInterval3OptimisedExif",
     {"67a622f4cabcd484256f26bd979b1ae8742bf6abe3570f7d982e43c44b437bc4",
      "55b57f62e51f2b0a206c4b93c4823e5e11780b8d598b4b9c76ba66a3c55fafb9",
      "8850dae1a547012193f32bd90c7a5423b42a192f4d6cbcc8a66c9d5e1bc17683",
      "5898badd6b65f9fcff2ac5aedb9d615c4a84fd94729b21f7fdb37e0f9e5db153",
      "51e4a865a7836897c486d7a442edc573c99c48052dc58d1284fa319298318fd0",
      "6cb3b462aa224d4e0244b50a8586898281859215aef1db98b21c7319dee93506",
      "4ef70d0779c07cf2fe4e005328a666d24193a0c611453872943593e0fbdee8ef",
      "2ffcae920820fc8f8d78778692bcc85816f1a5bfbd883ee2d3469e379b84deb7"}},
    {"420Whole",
     {"62ab37441006be1afcbd55ee6b37a9714a0eeb22009fb5e74eecd4ad1a43b089",
      "49682f5a715772e2d7cda543fcd6986550bdae101aa19dd1ae0aa6435b06db12",
      "e7c68bee93cf1a343098c769e56a46d8fc820db18b67b1af738d57965bd7b4a1",
      "35f5b76ea910b72b0b1e7ba28d09fddbafba300b82075c13fce8067cea27054d",
      "c4f4470d192db777b92daced38364d411089a6fbe08a6abd187c4537bf948e51",
      "c0de862d6789012449941db9dd0bb2f6308b0e6772bc675c35a8779057d4d94c",
      "deb7989deaf6725c3d97294985d030a7ebf2743e7ce95421d1614c4c406d8326",
      "38801cb44a5f3c3f426e2d0bf7db28304b4a305f355b72dfe54c1bf5b31c0b9b"}},
    {"420PartialOptimised",
     {"0525c6dd475724fc88eaa3fdf4bf8cd733640214efe73e11f51bc949719579b3",
      "59c360447ea68798d9090810bbac2491a283dc999e0eb24a49b8425f6a99472b",
      "d46cc2fba73e2a2d503d15481ae982cafc390c7a8df2fb35013b23241954d47d",
      "cba2ce101d6783380c2d52858083c46e388175687ef432a424b3da3a5a0e1254",
      "37329b7dcd51c31ccd605c9bfdc30adb8187067f5f42f100ad8849edd470bddb",
      "08d0766a8c475117d911bbc02dc4e30fb0acb6be8b9efd99ef44398d9e5d44ef",
      "0ed4df9deaf88a9740008b406e5be4c591632b84e3007c8533ffef08f3b0a664",
      "b1e7124151ac5d3801934aa32eb60f04e7c1a51e87264eacd03fecaddf3bf761"}},
    {"420WholeRowIntervals",
     {"a27dbebd1ee63be75b9481166958fdc6112e6e088800c5dd82eb96a0d11c0c6d",
      "776f5b90a00b5a5169e6014480d9415f3bd1b7b827b03ee38ff186d85efaddc4",
      "7b58cd323880ce4819160e2a7b707977b2d430d1bc6b9f45515aa6f038bc183c",
      "3bf6d27cd6e8fc2da7ca92fa28d01e476011921ec3659e3d1a32413a54b416ad",
      "8e340effa86db200df19c1529604c3a6361ee7e8f5a10ad05dd3b5b9f8d3dd91",
      "3243e1d71d7c8336797a7f26d08fa4e4f06e385ee46ab5d0d6b8d6a366bbe6e7",
      "8dacb91acfc5db1f8baf4f347236e4ebf23ba871c81461e0e122b2f489c4d9ec",
      "c338c6a6e4540737cc3812cf96e9f848be8c55bf2f4c26e2f620e80a48ff68d5"}},
    {"420PartialInterval1",
     {"3ab44fdd410d540e6f6d81b4e59b26de981ce2f2dedb3ce0b37230b041226199",
      "9db0861c9f32a277f7326676aa6c5e71fe6f89f936e309ee71883a689a5b2a36",
      "1c03a6b57a08fd24d57bf9b7edbfbcca84e36e5cb66609b1729d82fb3e24d43d",
      "79d5d44b9d59e064f0b3bf5b9812ecb5c097c9c92ea4a2c2c65f6c1cf54b5958",
      "18f76f0a4e33503a242f362ec50bf06ea78793e8f3c155f82da2dbb1c53cc609",
      "439bcfee9678da8444c58356cbd6922eb535c98a9d9ed189cc61426428b518cc",
      "e372fff0da21772515e379a3a3778e1aad563ec3c4d26abda76d1d2950c82a70",
      "7a969a27ec10e39badb70e7a92bca396e168215152434424db6f8ac03fc5d61c"}},
    {"420WholeInterval3OptimisedExif",
     {"4d5e17c97238111736070f6eba03b7bd20b7a8b17c315951cb6396f90e34c5d1",
      "258145e6ba96d6501a7f0802c06d647d175359d47b5af9dadc056cf594a002f6",
      "6e755c8a57d90c4298407c9d94655b3a9ac42f81e525482457d2da9cb43558b1",
      "024e4df6ae379a82640fdd3c25935d0734a18a9feb92fda140a41591c0f4cc95",
      "36ebad010c829b4432c51da64ffc7f2292422200315c1497679124f6d3306c26",
      "bac315934fd5d36dd3fb435165a58a1a1c07ecf8d4e1242551d1ee8149b007aa",
      "b322187240aadfdb181e0d132286d347a7f68217f588645cf3f0a16d086dabe2",
      "b57e37daa67eb2bcd34cb4401455ca1998ce7110f7b00e98a4969ce76ca98f26"}},
    {"440Whole",
     {"4c6e98d6faa717de20609f50a98637c1fbe6f057197abc3f53e5748721b48fe0",
      "31abb645ed05f9a522d38f2d0b4acb1eb445f3b18dbae94e6c12e5e2037bf5a2",
      "e0c6b917c39f21a0397a69b5c42c503d5409de80d94ae281fed2483fa411fdfe",
      "4a90dfd93432b3c63a8da1af001930c305ff78df8770f536268f06c75fadda35",
      "e910b20a6d34efc49dc8068faed543af82ebd040c792c5ea46543d92cbe4f899",
      "d3cf7c00f1e459cb008f999b46456deb4102b2896eb323acaf92fac6d8c797b6",
      "656be6ec8acdaa0e1e34b84b485391091f887d51e9a833b9410470698f54881e",
      "e78322449e47250cb70c9ba9c657e9ac1a95cdc7ca6387ed824f278b13b9faaf"}},
    {"440PartialOptimised",
     {"12846e0c551bfef7b5e35458dec29c06ca5da18e947a5675adb701dda8a00144",
      "95007584813570ea79552fdd196283051d97874faa6ce61bc1c44c1ba3f6962c",
      "03ca9e8cb64ffc0188d47b042a658676d276513091f6a77b2dd95f2b7be42f9e",
      "a7d8e2527c6daf8818ade63ee43855e7678e6e78bce931f5abafbb5ee32b2ef7",
      "b1be342b2425208a7efe4d902321efea19d9e1d6f3df139e2b75016f08fbc8e8",
      "12275f83d31420ffe99642e0421625edb94cd365375995e35933f2302fb64c96",
      "d65c5b095713a2f5973f58fcc99ade3e0165e8dda707b4783720a3bf96fd1e5a",
      "8248e460965f6fb2d83339bb28b0c6aeb3e4cf12be80e2253aa90a5296081fdd"}},
    {"440WholeRowIntervals",
     {"09c0daf9fef285003df16d5df68a0fb2a8bb8a461c68becf7ef2b127869cb0dc",
      "255889c6a4f871dda3c6c3a901b9c94f8043561710b2df83d678ffc7056b8cb7",
      "e8d7e9e15f52fa04637c5105e3aa632bd259075b5f71af1d37a4a6f5dd2a5031",
      "5b536595a885d1a7f8a5ea8d0291c2793c217371af51641ac85f9fa8b85e7023",
      "ed37f231b5cdd995cdd82fc486b9adf3cf1fef9deebc42ce9ac493b973fb8c3b",
      "8d1db8a324b33b4b939c4a3d285ef6092b20d2860fccec3aba3331a770b97c2a",
      "1481c722903d033f81f71af5d67bf649200f46217b364189a02d80accff0de72",
      "6b8fa8edc4fafc57bb7f0986747ad254e915265b315ba0b586260aaa8f320998"}},
    {"440PartialInterval1",
     {"88c5243c412b99b89038e4382aa9c1c276ff8b478af53c8e01fbfb46f699cf8f",
      "828b843d6f3877d08c4fee14fbba5a23aecbe4ec23bf764a9249ad3379b3dbee",
      "5fb598f86b5f747e9b34c5a40c7d4a08d9bc883d59bfeddc22a64e5c247fc2e3",
      "8baa6dc09825ea1017e9dab3027b827ef500c3b8e2da211572c6587cffec2dc2",
      "356782aa4ad1922295775e6804482131ffd0ea3645eaf80ba184f14c9b7e5f44",
      "2cf558c38c7baf26cd33acf172c6b26f46a15c739035e5c184b118f82721c6a0",
      "8729f9f18ddf22e9e7952d1cfe121727b95e7389fe694afde8dcf10de54992a1",
      "572e5ace5c2bee12e8d0a1355c2e5295f728e2093a388fc39de4fc1c8b8f7506"}},
    {"440WholeInterval3OptimisedExif",
     {"21f08a52af8834a8947e62ad82d40b201c9eab682e9348f308191a4a7c3a71a0",
      "112fc31e19418986abdcc5fbdc1725dbdb46eb364499c9e5e14377137fc5d25c",
      "bf31f76c26e0b35344d6646234ae9aab202b662cdb031e76b1d2881657302aa9",
      "f062defc1f5cced900c1fedc76922ccbc0a0b5f06601c0fe7b3b11b3021a9263",
      "6b54900fff95847747b767cc72028413fea7fb1521df2f74ebcf958d077bc84a",
      "a48832e2ee1137ff93979572b6751b876d406893c576f1e9e6c813b525d549c9",
      "293dd7942afee825f64af897e78977ea14370fb9af35db71d1d3b624d73bcdf9",
      "1aacb8778b3d06711d2e905203d8bad5e00d665eae5edd6f7223e695a923782c"}},
    {"GreyWhole",
     {"b66f911b3131301fd3b1161a3a21c8336c60c1d1834080afa97f6ac8649aa796",
      "6ae7da3161f43f1b26eb1bb5f413a6c7352f43d2bd6199ef496353ae75441e66",
      "4920fec874c6357b726b60e527ed490e70a7dc03a9bad91040a9e33884c79a60",
      "ad775340671c653024808f13243a824b8abbb96d8eb6efc44756e783669cf9da",
      "3318e006991a98173560d6dabc84f3c8eba2e5c7e2f7c48d856207423bd978fd",
      "b7efdb2ca9fcd7b2316e5f74ced75bb315d5145f2a4fcd4c7068c6200ae57070",
      "6a5619349a81bf6426ee6e3c85348aa92d6b2f3975d418486c2c89180d359afb",
      "490818714416f222fb71d66f65fc3ec7a07429007ace3a963fe8ac06ef5e756a"}},
    {"GreyPartialOptimised",
     {"dfe679cc76df66a81e3de1dc39359f51ee1e70c14e2d81a80131b8bdd25fc409",
      "c6b45ed1159cea9ddd97f3c77c48dfc4abf2fa6d99e357d58336dfd634b742a5",
      "29995298733bf46e2065bbc6f9e9ec47fdca3c6069ad669180b42a657590a6f2",
      "964d073921673af3ae1500da244e743bf323825029635fd5683a886d89da61f2",
      "c9700349e2b2313f5c455c12ede6cd92f48bb07dbeb3227f1f406b6d6c71f391",
      "a241ce8cf0ebaa51a1cde2e2c00aeaef0bd8ce3061007ec453772d47b5608f51",
      "c08ff3be61c957f5c22474818d7458c8eb07da2439202a3ad427f3397e2c7ef3",
      "d96a7625e17f154b273279ce319fbed0678cedf5323c1ad7428243962216bdae"}},
    {"GreyWholeRowIntervals",
     {"6413c9e2b0a3e4334a15f33af19ad06b868589233f294554a7bea4c2861ece9d",
      "380912258eb693ddb046463c6bb4638d9bed1ab429f861ffaf288a6d23e2caf8",
      "f3ad351271c2d0141fe29fcb968c7cdb94c09631b8c95f0c3db5735857a8ef63",
      "af0b8e779336f22d164acf35a9e63cab3c8ab4776095afdf2315c59e4e75454f",
      "ab242fdf045dea3d14e758879c49c8c003b50ff722e3e63ffda35e78f3f9ebe3",
      "f1a4876c25485fb95ffbbf011ad483cce84fbe7724904f4effb88a0d907919b5",
      "92041365e6f806d9f7d983aa173f7fa96b7244666c25bbbeadd54eaae98e4b0d",
      "d414e1438b27725057adaf04dd9f10f7ae68106902645b79397c0c1a64b13898"}},
    {"GreyPartialInterval1",
     {"f5c8b7fd2cb46c5ca9fb55dae8feb05139bc1cb40f0926e48084d71a90698e21",
      "136cf89d0caa0d67589921e5304ee4409b4fc4f3096762bc96529db227e45fa2",
      "9be11d4dd62a6b67379a6cfd97f7a4ef6262b3f4d7bc745ae46d7529a125acc7",
      "b450e98ad5c8bbd460c1ee7daa99bcfe50a325eaacc9c4a189ae4cbcfab7b6a0",
      "57a8bb47cb8e5baa74f560d596ef2e95b0c6fc0131f8f56674f0f9e8b332af93",
      "52db8bf94851f2a3fbb3b60d11cc2bb8c96e0a2dc25ed76b2f8bf7f761d64523",
      "4951204a14e7c022f2ba62faa8fce649a84c5acb14c1ef6f900f863d2812b750",
      "d6134b5a6d1e36624687e8a30a486a8925d21219c21ea02d0fd62f5caa4b4b37"}},
    {"GreyWholeInterval3OptimisedExif",
     {"2b2d39fbd6557c30cb52b61b73479f2d1ae1e0b3412d35bc7312c34a4d742d81",
      "a74908873ec7dd9e0fab7ca3bc77d4fb8ef20df41c66eb7fbba7c92e208f13f0",
      "97c4d6d517d7c2ba3483aca3e152bc044c9d3a07f01a53a50517f1682c620051",
      "21dd59c37a4e807ecaa169c742bcfde153dfa7ea5612458e99a0f2d89551d164",
      "1b3aecb654492f27612e1e3ba6d90513984aa363e4061585906f7a07d1388ab3",
      "b92535d68997490d5ff3e8a960b7ef86a1aa95c8a2f78c0444b707474ab0207c",
      "2841d326dadb5f10a499a15166fe4b701a9a0fde4c347fb0a7c2d8fed41337ea",
      "1c2bdf0939d3da1f09696d3036879528f9c627a0bf60ffe8214c16ea3d2cbf63"}},
    {"MultiPicture",
     {"330fb63d5a3e213e509bda9a4adfda884fd898e432a32a2f3169ec4121d03e46",
      "b60dfced17dc0b5655ff6e522b45792d33e091d124980a8ce6b145d4c6398a11",
      "dacdaffea136a51caf47c9e2d2df75aff4d70290dd6d696020b6471735805400",
      "3d89121ad2424f1f25d8224a0300d9426bea1749f16fae4f63d2db529205a419",
      "c71838056b843a4e8398867e8b377596ebdeb43a94b4da5a0c850a985563e196",
      "e9d7ef935148e3bef5fe420f24e68032d441c5f409f4b4e2f608731a08f40be0",
      "521931dcfc95b61ac27ded0e6333df0641430997a78ac32751f8d186aae359f2",
      "88d67beb78c826ee070d1ef189c0984deafd7f7e1fc5b20562f6c2674b2bf649"}},
    {"CutInTheScan",
     {"edf53bfde6fda3b231c34604781614b0725cf13d0b51515dd9c345e992405789",
      "53f1e9e7cdda72b86c4ba76960057637578e187277b2195e5778c127133f75a0",
      "53f1e9e7cdda72b86c4ba76960057637578e187277b2195e5778c127133f75a0",
      "edf53bfde6fda3b231c34604781614b0725cf13d0b51515dd9c345e992405789",
      "edf53bfde6fda3b231c34604781614b0725cf13d0b51515dd9c345e992405789",
      "edf53bfde6fda3b231c34604781614b0725cf13d0b51515dd9c345e992405789",
      "53f1e9e7cdda72b86c4ba76960057637578e187277b2195e5778c127133f75a0",
      "53f1e9e7cdda72b86c4ba76960057637578e187277b2195e5778c127133f75a0"}},
    {"MarkerInTheScan",
     {"2b43841d4a9da60a413c4b37d1d40efae9467d45ad456658ee2a1e09b43e8e13",
      "8ff384157a2d77880961d9d886cb4264cc1a74ef599ada1bbec6688154a4a7ec",
      "8ff384157a2d77880961d9d886cb4264cc1a74ef599ada1bbec6688154a4a7ec",
      "2b43841d4a9da60a413c4b37d1d40efae9467d45ad456658ee2a1e09b43e8e13",
      "2b43841d4a9da60a413c4b37d1d40efae9467d45ad456658ee2a1e09b43e8e13",
      "2b43841d4a9da60a413c4b37d1d40efae9467d45ad456658ee2a1e09b43e8e13",
      "8ff384157a2d77880961d9d886cb4264cc1a74ef599ada1bbec6688154a4a7ec",
      "8ff384157a2d77880961d9d886cb4264cc1a74ef599ada1bbec6688154a4a7ec"}},
    {"BadCodes",
     {"0a63052818c2278dcc294a40d484d86dace76af9eb37aa3b5fc10ccc1d7208c7",
      "59a9c02665d63daf6a2f090d390c52038ceebf0cc9d070c8d628721e12c7e8df",
      "59a9c02665d63daf6a2f090d390c52038ceebf0cc9d070c8d628721e12c7e8df",
      "0a63052818c2278dcc294a40d484d86dace76af9eb37aa3b5fc10ccc1d7208c7",
      "0a63052818c2278dcc294a40d484d86dace76af9eb37aa3b5fc10ccc1d7208c7",
      "0a63052818c2278dcc294a40d484d86dace76af9eb37aa3b5fc10ccc1d7208c7",
      "59a9c02665d63daf6a2f090d390c52038ceebf0cc9d070c8d628721e12c7e8df",
      "59a9c02665d63daf6a2f090d390c52038ceebf0cc9d070c8d628721e12c7e8df"}},
    {"Progressive",
     {"48c816b7e665fd2915edb775cf5188e9f526dd69a837f4d6d02de0f4086a18fc",
      "48c816b7e665fd2915edb775cf5188e9f526dd69a837f4d6d02de0f4086a18fc",
      "48c816b7e665fd2915edb775cf5188e9f526dd69a837f4d6d02de0f4086a18fc",
      "48c816b7e665fd2915edb775cf5188e9f526dd69a837f4d6d02de0f4086a18fc",
      "48c816b7e665fd2915edb775cf5188e9f526dd69a837f4d6d02de0f4086a18fc",
      "48c816b7e665fd2915edb775cf5188e9f526dd69a837f4d6d02de0f4086a18fc",
      "48c816b7e665fd2915edb775cf5188e9f526dd69a837f4d6d02de0f4086a18fc",
      "48c816b7e665fd2915edb775cf5188e9f526dd69a837f4d6d02de0f4086a18fc"}},
    {"DcOutOfRange",
     {"49875b7dc31a8545993ecc228f1213dc1cc427389c6eb51d6c880312f7fa66d1",
      "3f883ee7f3f2e9d9ad677d9cbcfd70b344258fd07b51282806cecc5ec1f82c46",
      "3f883ee7f3f2e9d9ad677d9cbcfd70b344258fd07b51282806cecc5ec1f82c46",
      "49875b7dc31a8545993ecc228f1213dc1cc427389c6eb51d6c880312f7fa66d1",
      "49875b7dc31a8545993ecc228f1213dc1cc427389c6eb51d6c880312f7fa66d1",
      "49875b7dc31a8545993ecc228f1213dc1cc427389c6eb51d6c880312f7fa66d1",
      "3f883ee7f3f2e9d9ad677d9cbcfd70b344258fd07b51282806cecc5ec1f82c46",
      "3f883ee7f3f2e9d9ad677d9cbcfd70b344258fd07b51282806cecc5ec1f82c46"}},
    {"DcWithoutCode",
     {"e8ea76ed7eac042a5398cf75bf88da058bcb54c7d3d189b693958ec0625bb54f",
      "919064007248405d50eff2e3e98abe2a0cc5863791c8e8f8acbbcb1da81d82ac",
      "c8b71c656d8f026572adae71d28609c75a631510499b054433eeddf218facfce",
      "3618ca3b930d4e462b149aaab49d977ca468046f51c9cc3239535e2190a94dbd",
      "3618ca3b930d4e462b149aaab49d977ca468046f51c9cc3239535e2190a94dbd",
      "e8ea76ed7eac042a5398cf75bf88da058bcb54c7d3d189b693958ec0625bb54f",
      "919064007248405d50eff2e3e98abe2a0cc5863791c8e8f8acbbcb1da81d82ac",
      "c8b71c656d8f026572adae71d28609c75a631510499b054433eeddf218facfce"}},
};

TEST(GoldenHashTest, EveryInputAndModeGivesThePinnedHashInEverySetting) {
    const bool print = std::getenv("PLUME_GOLDEN_PRINT") != nullptr;
    for (const TGoldenInput& input : GoldenInputs()) {
        std::vector<std::string> first;
        for (const TSetting& setting : kSettings) {
            SCOPED_TRACE(input.name + ", " + setting.name);
            // One engine for every mode, as the application keeps one for its files.
            TEngineRun run;
            setting.apply(run);
            std::vector<std::string> hashes;
            for (std::uint8_t mode = 0; mode < kModeCount; ++mode)
                hashes.push_back(PassesHash(run, input.jpeg, mode));
            if (first.empty()) first = hashes;
            const auto golden = kGolden.find(input.name);
            if (print) {
                EXPECT_EQ(hashes, first) << "the settings disagree";
                continue;
            }
            ASSERT_NE(golden, kGolden.end()) << "no hashes pinned";
            for (std::uint8_t mode = 0; mode < kModeCount; ++mode)
                EXPECT_EQ(hashes[mode], golden->second[mode]) << "mode " << int(mode);
        }
        if (!print) continue;
        std::cout << "    {\"" << input.name << "\",\n     {";
        for (std::size_t mode = 0; mode < first.size(); ++mode)
            std::cout << (mode ? ",\n      " : "") << '"' << first[mode] << '"';
        std::cout << "}},\n";
    }
}

}  // namespace
}  // namespace plume::test
