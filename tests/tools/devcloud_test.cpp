// The development cloud against the agent's own client code: signed requests from
// rest_post, answers read by the agent's response classes, files fetched and logs uploaded
// with its transport.
#include <gtest/gtest.h>
#include <json/reader.h>
#include <json/value.h>

#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "base/events.h"
#include "base/failures.h"
#include "cloud/course_response.h"
#include "cloud/http_transport.h"
#include "cloud/rest_request.h"
#include "devcloud/devcloud.h"
#include "devcloud/sample_courses.h"
#include "devcloud/sample_layout.h"
#include "devices/model_keys.h"
#include "devices/serial/hx62_course.h"
#include "devices/serial/hx62_course_name.h"
#include "devices/serial/jt_course.h"
#include "devices/serial/tavlin_course.h"
#include "devices/serial/vemo_device.h"
#include "devices/serial/zel_course.h"
#include "devices/usbdisk/full_update_response.h"
#include "devices/usbdisk/tar_package_models.h"
#include "devices/usbdisk/usbdisk_course.h"
#include "platform/memory_stream.h"
#include "support/capture_logger.h"
#include "support/command_run.h"
#include "support/temp_folder.h"
#include "sync/log_upload.h"

namespace orvel {
namespace {

namespace fs = std::filesystem;
using devcloud::find_model;
using devcloud::sample_courses;

class DevCloud : public ::testing::Test {
protected:
    DevCloud() {
        devcloud::devcloud_options options;
        options.uploads_folder = folder / "uploads";
        options.console_folder = ORVEL_SOURCE_DIR "/tools/console";
        options.log = [this](const std::string& line) {
            std::lock_guard<std::mutex> lock(mutex);
            log_lines.push_back(line);
        };
        cloud = std::make_unique<devcloud::devcloud>(options);
    }

    // The member's product of the model, as the console fills in a command.
    connection_settings settings(const std::string& model, const std::string& user = "dev-ada") {
        connection_settings s;
        s.server = cloud->server().host();
        for (const devcloud::member& m : devcloud::sample_members()) {
            if (m.user_key != user) {
                continue;
            }
            s.userKey = m.user_key;
            s.userSecret = m.user_secret;
            for (const devcloud::product& p : m.products) {
                if (p.model == model) {
                    s.id_memberProduct = p.id;
                    s.serialNumber = p.serial_number;
                }
            }
        }
        return s;
    }

    // Posts the action as the agent does and reads the answer into the response.
    void post(const connection_settings& s, const std::string& action, const Json::Value& body,
              sync_response& response) {
        memory_stream answer;
        request_context context{answer, s};
        rest_post(context, action, body);
        answer.rewind();
        response.parse(answer);
    }

    Json::Value course_request(const std::string& code) {
        Json::Value body(Json::objectValue);
        body["id_course"] = code;
        return body;
    }

    std::string fetch(const std::string& url) {
        memory_stream body;
        http_request(url, body, nullptr, "GET", nullptr, 0, no_event);
        return body.text();
    }

    std::vector<std::string> lines() {
        std::lock_guard<std::mutex> lock(mutex);
        return log_lines;
    }

    // The unit of a tar-package model, as the agent makes it.
    std::unique_ptr<nebro_device> tar_device(const std::string& model) {
        return std::make_unique<nebro_device>(row_of(model), no_event);
    }

    // The course read by the response class of the model's protocol; the last one of each
    // protocol stays in its member.
    const course& serial_record(const devcloud::model_info& model, const std::string& code) {
        sync_response* answer = &zel;
        const course* record = &zel.record;
        if (model.family == devcloud::course_family::jt) {
            answer = &jt;
            record = &jt.record;
        } else if (model.family == devcloud::course_family::tavlin) {
            answer = &tavlin;
            record = &tavlin.record;
        } else if (model.family == devcloud::course_family::vemo) {
            answer = &vemo;
            record = &vemo.record;
        }
        post(settings(model.name), "DeviceCourseDataDetails/", course_request(code), *answer);
        return *record;
    }

    JTCourseResponse jt;
    ZelCourseResponse zel;
    TavlinCourseResponse tavlin;
    VemoCourseResponse vemo;
    test::temp_folder folder{"devcloud"};
    empty_event no_event;
    std::mutex mutex;
    std::vector<std::string> log_lines;
    std::unique_ptr<devcloud::devcloud> cloud;
};

std::string text_of(const byte_vector& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

Json::Value parse_json(const std::string& text) {
    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value root;
    std::string errors;
    if (!reader->parse(text.data(), text.data() + text.size(), &root, &errors)) {
        ADD_FAILURE() << errors << " in " << text;
    }
    return root;
}

TEST_F(DevCloud, EveryModelsCoursesPassTheAgentsParsers) {
    test::capture_logger log;
    for (const devcloud::model_info& model : devcloud::models()) {
        SCOPED_TRACE(model.name);
        for (const devcloud::sample_course& sample : sample_courses(model)) {
            if (model.family == devcloud::course_family::hx62) {
                HX62SyncResponse answer;
                post(settings(model.name), "DeviceCourseDataDetails/", course_request(sample.code),
                     answer);
                EXPECT_EQ(answer.record.totalCourses,
                          static_cast<int>(devcloud::hx62_record_count));
                ASSERT_EQ(answer.record.glf.size(), devcloud::hx62_record_size);
                EXPECT_TRUE(answer.record.sector51.empty());
                continue;
            }
            if (devcloud::is_volume(model.family)) {
                USBDiskCourseResponse answer;
                post(settings(model.name), "DeviceCourseDataDetails/", course_request(sample.code),
                     answer);
                EXPECT_EQ(answer.record.glf.size(), devcloud::glf_course_size);
                EXPECT_EQ(answer.record.setupType, model.setup_type);
                EXPECT_EQ(text_of(answer.record.glsData), sample.gls);
                if (model.family == devcloud::course_family::tar_package) {
                    // The unit's own check finds the name under the model's keys.
                    log.clear();
                    tar_device(model.name)->check_course_data(sample.id, answer.record.glf);
                    EXPECT_TRUE(log.contains(sample.name));
                    continue;
                }
                // The JTC model finds a course's file by the name at byte 10.
                EXPECT_EQ(std::string(reinterpret_cast<const char*>(answer.record.glf.data()) + 10),
                          sample.name);
                continue;
            }
            // Each protocol's own record; they all hold the shared course record first.
            const course& record = serial_record(model, sample.code);
            EXPECT_EQ(record.course_name, sample.name);
            EXPECT_EQ(record.id_course, sample.id);
            EXPECT_EQ(text_of(record.glf), sample.glf);
        }
    }
    EXPECT_EQ(log.count("Course parsing failed"), 0u);
    EXPECT_EQ(jt.record.leading_text(), "Oak Shore");
    EXPECT_EQ(jt.record.image_count(), 2u);
    EXPECT_EQ(zel.record.hole_count, 9);
    EXPECT_EQ(tavlin.record.tees[8], "00,tee,9");
}

TEST_F(DevCloud, Hx62CoursesCarryTheirIdAndNameUnderTheModelsKeys) {
    const std::pair<std::string, std::pair<const model_key*, const model_key*>> keys[] = {
        {"HXZelPlus", {&model_keys::HXZelPlus::data_key, &model_keys::HXZelPlus::name_key}},
        {"HXBrevanto", {&model_keys::HXBrevanto::data_key, &model_keys::HXBrevanto::name_key}},
        {"HXZelX", {&model_keys::HXZelX::data_key, &model_keys::HXZelX::name_key}},
        {"HXZelXS", {&model_keys::HXZelXS::data_key, &model_keys::HXZelXS::name_key}},
        {"HXQuillan", {&model_keys::HXQuillan::data_key, &model_keys::HXQuillan::name_key}},
    };
    for (const auto& [model, pair] : keys) {
        for (const devcloud::sample_course& sample : sample_courses(*find_model(model))) {
            byte_vector record(sample.glf.begin(), sample.glf.end());
            EXPECT_EQ(descramble_course(record, sample.id, *pair.first, *pair.second), sample.name)
                << model;
        }
    }
    // Odd and even ids swap different pairs; names of any length up to 49 come back.
    const std::string long_name(60, 'x');
    byte_vector record(1500, 0);
    const std::string scrambled =
        devcloud::scramble_hx62_record(std::string(1500, '\0'), 4242, long_name, "HXZelX");
    record.assign(scrambled.begin(), scrambled.end());
    EXPECT_EQ(
        descramble_course(record, 4242, model_keys::HXZelX::data_key, model_keys::HXZelX::name_key),
        long_name.substr(0, 49));
}

TEST_F(DevCloud, StaleSyncIndexIsRepairedByTheRestoreAction) {
    const connection_settings ben = settings("HXZelX", "dev-ben");
    HX62SyncResponse answer;
    post(ben, "DeviceCourseDataDetails/", course_request("3001"), answer);
    EXPECT_EQ(answer.record.totalCourses, 60);
    Json::Value restore(Json::objectValue);
    restore["courseCount"] = devcloud::hx62_record_count;
    restore["id_course"] = "3001";
    sync_response plain;
    post(ben, "CourseSyncIndexRestore/", restore, plain);
    post(ben, "DeviceCourseDataDetails/", course_request("3001"), answer);
    EXPECT_EQ(answer.record.totalCourses, static_cast<int>(devcloud::hx62_record_count));
    // Ada's products were right from the start; hers stay as they were.
    post(settings("HXZelX"), "DeviceCourseDataDetails/", course_request("3001"), answer);
    EXPECT_EQ(answer.record.totalCourses, static_cast<int>(devcloud::hx62_record_count));
}

TEST_F(DevCloud, FullUpdateBringsFilesScoresAndArticlesUntilConfirmed) {
    const connection_settings jtc_plus = settings("JTCPlus");
    // A round the unit recorded, as the agent sends it.
    Json::Value round(Json::objectValue);
    round["round_id"] = 77;
    round["round_date"] = "2024-07-01 08:00:00";
    round["course_name"] = "Fernhill";
    round["course_id"] = 1103;
    round["slope_rating"] = 120;
    round["course_rating"] = 69.5;
    round["teebox"] = 1;
    for (int hole = 0; hole < 18; ++hole) {
        Json::Value score(Json::objectValue);
        score["score"] = 3;
        score["putts"] = 1;
        round["score"].append(score);
    }
    Json::Value scores;
    scores["user_scores"]["user_score"].append(round);
    Json::Value body(Json::objectValue);
    body["updateArticles"] = 1;
    body["userScores"] = request_body_text(scores);

    USBDiskFullUpdateResponse answer;
    post(jtc_plus, "DeviceFullDataDetails/", body, answer);
    EXPECT_EQ(answer.files, (std::vector<std::string>{"EMBEDD01.GLF", "SETUP.SMI"}));
    EXPECT_EQ(answer.version, devcloud::sample_version);
    ASSERT_EQ(answer.user_scores.records.size(), 3u);
    EXPECT_EQ(answer.user_scores.records[2].round_id, 77);
    EXPECT_EQ(answer.user_scores.records[2].course_name, "Fernhill");
    ASSERT_EQ(answer.articles.categories.size(), 2u);
    EXPECT_EQ(answer.articles.categories[0].name, "news");

    // The course file holds each course in the slot of its index.
    const std::string file = fetch(answer.urls[0]);
    ASSERT_EQ(file.size(), devcloud::glf_file_slots * devcloud::glf_course_size);
    for (const devcloud::sample_course& sample : sample_courses(*find_model("JTCPlus"))) {
        EXPECT_EQ(
            file.substr((sample.index - 1) * devcloud::glf_course_size, devcloud::glf_course_size),
            sample.glf);
    }

    Json::Value confirm(Json::objectValue);
    confirm["version"] = answer.version;
    sync_response plain;
    post(jtc_plus, "DeviceFullDataConfirm/", confirm, plain);
    body.removeMember("userScores");
    body["updateArticles"] = 0;
    post(jtc_plus, "DeviceFullDataDetails/", body, answer);
    EXPECT_TRUE(answer.files.empty());
    EXPECT_TRUE(answer.articles.categories.empty());
    EXPECT_EQ(answer.user_scores.records.size(), 3u) << "the kept round comes back";

    // A restore lists the files whatever was confirmed; Uzo's carry its set-up type.
    USBDiskRestoreResponse restore;
    post(jtc_plus, "DeviceRestore/", Json::Value(Json::objectValue), restore);
    EXPECT_EQ(restore.files.size(), 2u);
    post(settings("Uzo"), "DeviceRestore/", Json::Value(Json::objectValue), restore);
    EXPECT_EQ(restore.files, std::vector<std::string>{"uzo.tar"});
    EXPECT_EQ(restore.setupType, "B");
}

TEST_F(DevCloud, PackagesAreTarArchivesOfTheCourseLibrary) {
    for (const std::string model : {"Nebro", "Prang"}) {
        USBDiskRestoreResponse restore;
        post(settings(model), "DeviceRestore/", Json::Value(Json::objectValue), restore);
        ASSERT_EQ(restore.urls.size(), 1u);
        const std::string archive = folder / (model + ".tar");
        download_file(restore.urls[0], archive, 0, no_event);
        const std::string out = folder / ("unpacked-" + model);
        fs::create_directories(out);
        const test::command_result tar = test::run_command({"tar", "-xf", archive, "-C", out});
        ASSERT_EQ(tar.status, 0) << tar.output;
        for (const auto& [name, content] : devcloud::volume_files(*find_model(model), true)) {
            EXPECT_TRUE(test::read_file(out + "/pkg/" + name) == content) << model << " " << name;
        }
        EXPECT_EQ(fs::exists(out + "/pkg/name/n00"), model == "Nebro");
    }
}

TEST_F(DevCloud, EphemerisFilesAreOfferedOneByOneForTheUnitsSerialNumber) {
    const connection_settings prang = settings("Prang");
    Json::Value list(Json::objectValue);
    list["serialNumber"] = prang.serialNumber;
    list["lastRecord"] = 1;
    Json::Value answer_root;
    std::vector<std::string> urls;
    {
        memory_stream answer;
        request_context context{answer, prang};
        rest_post(context, "ProductEphemerisLogList/", list);
        for (int n = 0; n < 4; ++n) {
            answer.rewind();
            sync_response envelope;
            envelope.parse(answer);
            const Json::Value root = parse_json(answer.text());
            if (!root.isMember("url")) {
                break;
            }
            urls.push_back(root["url"].asString());
            EXPECT_FALSE(fetch(urls.back()).empty());
            Json::Value confirm(Json::objectValue);
            confirm["serialNumber"] = prang.serialNumber;
            confirm["days"] = root["days"];
            confirm["date_confirmed"] = utc_date_text(std::time(nullptr));
            rest_post(context, "ProductEphemerisLogCreate/", confirm);
        }
    }
    ASSERT_EQ(urls.size(), 3u);
    EXPECT_NE(urls[0].find("_gps1.alp"), std::string::npos);

    // Another product's serial number is refused as the service refuses it: 605.
    list["serialNumber"] = "ORV-999";
    sync_response refused;
    try {
        post(prang, "ProductEphemerisLogList/", list, refused);
        ADD_FAILURE() << "a foreign serial number was taken";
    } catch (const extl_exception& failure) {
        EXPECT_EQ(failure.code(), sync_error_code::serial_number_rejected);
    }
}

TEST_F(DevCloud, LogUploadGoesIntoTheUploadsFolder) {
    const std::string log_file = folder / "agent.log";
    test::write_file(log_file, "the agent's log\n");
    event interrupt;
    upload_log(settings("ZelPlus"), log_file, interrupt);
    std::vector<std::string> kept;
    for (const auto& entry : fs::directory_iterator(folder / "uploads")) {
        kept.push_back(test::read_file(entry.path().string()));
    }
    EXPECT_EQ(kept, std::vector<std::string>{"the agent's log\n"});
}

TEST_F(DevCloud, BadSignaturesStaleTimestampsAndForeignProductsAreRefused) {
    connection_settings wrong = settings("ZelPlus");
    wrong.userSecret = "not-the-secret";
    sync_response answer;
    try {
        post(wrong, "DeviceRestore/", Json::Value(Json::objectValue), answer);
        ADD_FAILURE() << "a bad signature was taken";
    } catch (const intl_exception& failure) {
        EXPECT_NE(failure.message().find("Invalid signature"), std::string::npos);
    }

    // Signed right, but an hour old.
    const connection_settings ada = settings("ZelPlus");
    memory_stream body;
    request_context context{body, ada};
    const std::string old = utc_timestamp(std::time(nullptr) - 3600);
    const std::string path = "/rest/action/DeviceRestore/" + context.key + "/" + ada.userKey +
                             "/1.0/2.0/HmacSHA256/" + sign_request(context, "DeviceRestore/", old) +
                             "/" + old + "/JSON";
    const std::string text = "{\"id_relationship\":" + std::to_string(ada.id_memberProduct) + "}\n";
    try {
        http_request(cloud->server().url(path), body, nullptr, "POST", text.data(),
                     static_cast<std::uint32_t>(text.size()), no_event);
        ADD_FAILURE() << "a stale timestamp was taken";
    } catch (const intl_exception& failure) {
        EXPECT_NE(body.text().find("Timestamp out of range"), std::string::npos)
            << failure.message();
    }

    // Ben's product with Ada's keys: the service's envelope with an error status.
    connection_settings foreign = ada;
    foreign.id_memberProduct = settings("ZelPlus", "dev-ben").id_memberProduct;
    try {
        post(foreign, "DeviceRestore/", Json::Value(Json::objectValue), answer);
        ADD_FAILURE() << "another member's product was taken";
    } catch (const extl_exception& failure) {
        EXPECT_EQ(failure.code(), sync_error_code::bad_response);
        EXPECT_NE(failure.message().find("Response: 404"), std::string::npos);
    }

    // A body the service cannot read gets its error envelope; the cloud serves on.
    Json::Value odd(Json::objectValue);
    odd["updateArticles"] = 0;
    odd["userScores"] = "[1]";
    try {
        post(settings("KM3"), "DeviceFullDataDetails/", odd, answer);
        ADD_FAILURE() << "unreadable scores were taken";
    } catch (const extl_exception& failure) {
        EXPECT_NE(failure.message().find("Response: 400 Malformed request"), std::string::npos)
            << failure.message();
    }
    post(settings("KM3"), "DeviceRestore/", Json::Value(Json::objectValue), answer);

    // One line a request, refusals with their reason.
    const std::vector<std::string> logged = lines();
    ASSERT_EQ(logged.size(), 5u);
    EXPECT_NE(logged[0].find("POST DeviceRestore dev-ada #" + std::to_string(ada.id_memberProduct) +
                             " 401 Invalid signature"),
              std::string::npos)
        << logged[0];
    EXPECT_NE(logged[1].find("401 Timestamp out of range"), std::string::npos) << logged[1];
    EXPECT_NE(logged[2].find("DeviceRestore dev-ada #" + std::to_string(foreign.id_memberProduct) +
                             " 200 Status 404"),
              std::string::npos)
        << logged[2];
}

TEST_F(DevCloud, ConsoleFilesAndCatalogueAreServedAndNothingOutsideThem) {
    EXPECT_NE(fetch(cloud->base_url() + "/").find("id=\"status\""), std::string::npos);
    EXPECT_FALSE(fetch(cloud->base_url() + "/console.js").empty());
    for (const std::string path :
         {"/../CMakeLists.txt", "/%2e%2e/CMakeLists.txt", "/missing.js", "/console.js.bak"}) {
        EXPECT_THROW(fetch(cloud->base_url() + path), intl_exception) << path;
    }
    const Json::Value catalogue = parse_json(fetch(cloud->base_url() + "/api/catalogue"));
    EXPECT_EQ(catalogue["server"].asString(), cloud->server().host());
    EXPECT_EQ(catalogue["models"].size(), model_rows().size());
    EXPECT_EQ(catalogue["members"][0]["products"].size(), model_rows().size());
}

}  // namespace
}  // namespace orvel
