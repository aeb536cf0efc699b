// Runs a command with its stdout and stderr masked:
//
//	DEPLOY_TOKEN=... go run . ./deploy.sh --prod
package main

import (
	"fmt"
	"os"
	"os/exec"

	"hushmask"
)

func main() {
	set, err := hushmask.NewSet([][]byte{[]byte(os.Getenv("DEPLOY_TOKEN"))}, hushmask.Options{})
	if err != nil {
		fmt.Fprintln(os.Stderr, err)
		os.Exit(2)
	}
	defer set.Close()

	stdout, stderr := set.NewWriter(os.Stdout), set.NewWriter(os.Stderr) // one set, two streams
	cmd := exec.Command(os.Args[1], os.Args[2:]...)
	cmd.Stdin, cmd.Stdout, cmd.Stderr = os.Stdin, stdout, stderr
	runErr := cmd.Run()
	stdout.Close() // writes the held-back tails
	stderr.Close()
	if runErr != nil {
		fmt.Fprintln(os.Stderr, runErr)
		os.Exit(1)
	}
}
